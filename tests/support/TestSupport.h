#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <optional>

// File content for transfers: no run of one byte value, different for
// each seed.
QByteArray Pattern(int nSize, int nSeed = 0);

// Runs the Qt event loop for at most ms milliseconds.
void PumpEvents(int ms);

// Moves the test tick count on to nDue, when a retransmission timer is due,
// which fires it; false (and nothing moved) for 0: nothing is in flight.
bool AdvanceTestTicksTo(unsigned long long nDue);

// A plain UDP peer on 127.0.0.1 for wire tests. Receives pump the Qt event
// loop while they wait, so the code under test keeps running.
class UdpPeer {
public:
    UdpPeer();
    // A peer on another loopback address (such as 127.0.0.2, a second host)
    // and, if not 0, a given port; Port() is 0 when it cannot be bound or the
    // address is not a loopback one.
    // Datagrams still go to 127.0.0.1.
    explicit UdpPeer(const char* pszLocalAddress, uint16_t nPort = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t Port() const { return m_nPort; }
    bool SendTo(uint16_t nPort, const QByteArray& data);
    // The next datagram within ms milliseconds (and its source port).
    std::optional<QByteArray> Receive(int ms = 2000, uint16_t* pFromPort = nullptr);

private:
    int m_fd = -1;
    uint16_t m_nPort = 0;
};

// Sends a UDP datagram on 127.0.0.1 whose source port is forged, through a
// raw socket. False when this process may not open one (no CAP_NET_RAW).
bool SendForged(uint16_t nFromPort, uint16_t nToPort, const QByteArray& data);

// A UDP port on 127.0.0.1 that was free a moment ago.
uint16_t FreeUdpPort();

// Builds a request datagram: opcode, name, mode, then name/value pairs.
QByteArray MakeRequest(int nOpcode, const QByteArray& name, const QByteArray& mode,
                       const QList<QByteArray>& options = {});

// Records every message box and answers from a script (the default button
// once the script is used up). Restores the previous handler when destroyed.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(QList<int> answers = {});
    ~MessageBoxRecorder();
    QStringList texts;

private:
    QList<int> m_answers;
};

// Points $XDG_CONFIG_HOME at a fresh temporary folder for one test.
class TempConfigHome {
public:
    TempConfigHome();
    ~TempConfigHome();
    QString Path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_bHadPrevious = false;
};

// Counts how often a file is put in place whole (linked in under its name or
// renamed over it), as every settings file is written, from construction on.
// Its folder must exist.
class FileWriteCounter {
public:
    explicit FileWriteCounter(const QString& strPath);
    ~FileWriteCounter();
    FileWriteCounter(const FileWriteCounter&) = delete;
    FileWriteCounter& operator=(const FileWriteCounter&) = delete;
    int Count();

private:
    int m_fd = -1;
    QByteArray m_name;
    int m_nCount = 0;
};

// tftpd-hpa, or atftpd, in the foreground on 127.0.0.1 and a free port,
// serving a temporary folder in which it may create files; extra arguments
// are added to its command line.
class RealServer {
public:
    static constexpr const char* kProgram = "/usr/sbin/in.tftpd";
    enum class Kind { TftpdHpa, Atftpd };
    // atftpd's program: $ATFTPD, else where the test script unpacks it.
    static QString AtftpdProgram();

    explicit RealServer(const QStringList& extra = {}, Kind kind = Kind::TftpdHpa);
    ~RealServer();
    RealServer(const RealServer&) = delete;
    RealServer& operator=(const RealServer&) = delete;

    bool Running() const { return m_bRunning; }
    uint16_t Port() const { return m_nPort; }
    QString Path(const QString& strName) const { return m_dir.path() + "/" + strName; }

    void Put(const QString& strName, const QByteArray& bytes) const;
    // The file's bytes, or "<missing>" when there is none.
    QByteArray Get(const QString& strName) const;

private:
    bool WaitUntilServing();

    QTemporaryDir m_dir;
    QProcess m_process;
    uint16_t m_nPort = 0;
    bool m_bRunning = false;
};

// One side of a windowed exchange played step by step, for both programs'
// wire tests. A step is "ack N", "data N" (a full block of the content),
// "last N" (the short block that ends it) or anything the caller sends
// itself (other); the answer read back is "data A B ...", "ack N",
// "error N" or "" for silence, and every DATA must carry its bytes of the
// content.
struct WindowScript {
    QByteArray content;
    int nBlockSize = 512;
    std::function<void(const QByteArray&)> send;
    std::function<std::optional<QByteArray>(int ms)> receive;
    std::function<bool(const QString& step)> other;
    QByteArray stored; // the blocks sent in order, as a receiver keeps them

    // Plays the step; the answer, read until it matches what is expected.
    QString Play(const QString& step, const QString& expected);
};
