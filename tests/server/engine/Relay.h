#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

class QSocketNotifier;

// A lossy network between one TFTP client and one server, on 127.0.0.1.
//
// The client sends its request to Port(); the relay passes it on to the
// server's listening port from a back socket of its own (one per client
// address and port), so the server sees one client per real client. For
// every port the server answers from (its transfer identifier), the relay
// opens a front socket of its own, so the client too sees one transfer
// identifier per session. Refusals from the listening port itself reach the
// client from the main front socket.
//
// Every datagram, in both directions, may be dropped, duplicated (the copy
// follows within 0 to 20 ms) or held back 5 to 30 ms so that later ones
// overtake it, each drawn on its own from a generator seeded by the caller.
// Everything runs on the Qt event loop and nothing ever blocks.
class Relay : public QObject {
public:
    struct Faults {
        double drop = 0;      // probability that a datagram is lost
        double duplicate = 0; // probability that it arrives twice
        double reorder = 0;   // probability that it is held back
    };
    struct Counts {
        int nForwarded = 0; // datagrams taken in and not dropped
        int nDropped = 0;
        int nDuplicated = 0;
        int nDelayed = 0;
        int nIgnored = 0; // from a stranger, or beyond the socket limit
    };

    Relay(uint16_t nServerPort, Faults faults, uint32_t nSeed);
    ~Relay() override;
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // False when a socket could not be made; Port() is then 0.
    bool Ok() const { return m_nFrontPort != 0; }
    uint16_t Port() const { return m_nFrontPort; }
    const Counts& Stats() const { return m_counts; }
    // Prints every datagram and what befell it, for a failure's post-mortem.
    void SetTrace(const QString& label) { m_trace = label; }
    // The ports the server sees the clients at, one per client.
    std::vector<uint16_t> BackPorts() const;

    // Sockets are only ever added while the relay lives, and a misbehaving
    // peer must not make it open sockets without end.
    static constexpr int kMaxClients = 16;
    static constexpr int kMaxTransfers = 64;

private:
    struct Socket;
    struct Client {
        uint32_t nAddress = 0; // host order
        uint16_t nPort = 0;
        Socket* pBack = nullptr;
        std::map<uint16_t, Socket*> transfers; // server port -> front socket
    };
    enum class Role { MainFront, Back, TransferFront };
    struct Socket {
        int fd = -1;
        uint16_t nPort = 0;
        Role role = Role::MainFront;
        Client* pClient = nullptr; // Back, TransferFront
        uint16_t nServerPort = 0;  // TransferFront: where its datagrams go
        QSocketNotifier* pNotifier = nullptr;
    };

    Socket* Open(Role role, Client* pClient, uint16_t nServerPort);
    void OnReadable(Socket* pSocket);
    void Route(Socket* pSocket, uint32_t nFromAddress, uint16_t nFromPort, const QByteArray& data);
    // Passes one datagram on through the faults.
    void Forward(Socket* pFrom, uint32_t nToAddress, uint16_t nToPort, const QByteArray& data);
    void SendNow(Socket* pFrom, uint32_t nToAddress, uint16_t nToPort, const QByteArray& data);
    bool IsOwnPort(uint16_t nPort) const;
    void Trace(const Socket* pFrom, uint16_t nToPort, const QByteArray& data, bool bDrop,
               bool bDuplicate, bool bReorder) const;

    uint16_t m_nServerPort;
    Faults m_faults;
    std::mt19937 m_random;
    Counts m_counts;
    uint16_t m_nFrontPort = 0;
    Socket* m_pFront = nullptr;
    std::vector<std::unique_ptr<Socket>> m_sockets;
    std::vector<std::unique_ptr<Client>> m_clients;
    int m_nTransfers = 0;
    QByteArray m_buffer;
    QString m_trace;
    QElapsedTimer m_clock;
};
