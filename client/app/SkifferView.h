#pragma once

#include "TransferView.h"

#include <QDialog>
#include <QString>
#include <QWidget>
#include <memory>

class CSkifferCore;
class CTransferSocket;
class CSkifferView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// The document holds nothing of its own: its title is the local address of
// the last transfer socket, and opening a file sends it.
class CSkifferDoc {
public:
    explicit CSkifferDoc(CSkifferView* pView) : m_pView(pView) {}

    QString GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& strTitle) { m_strTitle = strTitle; }
    // A new document has no title.
    void OnNewDocument() { m_strTitle.clear(); }
    // Sends the file; always false, so the document never changes and
    // nothing is remembered as opened.
    bool OnOpenDocument(const QString& strPath);

private:
    CSkifferView* m_pView;
    QString m_strTitle;
};

// Dialog 136, "Transmission block size error".
class CBlockSizeDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kText =
        "Transmission blocks may be set to any value within the range of 64 to 65420 bytes, "
        "although settings above 12250 bytes may exceed the limit of your network and will "
        "cause the transfer to fail.\n\nFor this session the block size has defaulted to 512 "
        "bytes.";
    explicit CBlockSizeDlg(QWidget* pParent = nullptr);
};

// The main form (101): host, port, time-out, block size, file names and
// mode, the transfer buttons, Abort and the progress bar.
class CSkifferView : public QWidget, public CTransferView {
    Q_OBJECT
public:
    static constexpr int kMaxName = 500;
    static constexpr int kMaxHost = 39;

    // Reads and keeps the form's settings in core, which also runs the
    // transfers it starts.
    explicit CSkifferView(CSkifferCore& core);
    ~CSkifferView() override;

    void OnInitialUpdate();
    // Members to controls (false) or controls to members (true).
    void UpdateData(bool bSaveAndValidate);
    int ValidateForm();
    void OnGet();
    void OnSend();
    void OnAbort();
    void OnMatchFiles();
    // Sends a file chosen with File, Send... or dropped on the window.
    bool SendFile(const QString& strPath);
    void SetButtonNames(int bChangeButtons);
    bool CanAbort() const;
    // Abort is enabled exactly while a transfer runs.
    void UpdateCommandUI();

    CTransferSocket* Transfer() const { return m_pTransfer.get(); }

    // The Truncate setting's shortening of a remote name.
    static QString ShortenName(const QString& strName);

    int m_nBlockSize = 512;
    QString m_szRemote;
    QString m_szLocal;
    QString m_szHost;
    int m_nPort = 69;
    int m_nTimeout = 10;
    int m_bBinary = 1;
    int m_bMatchFiles = 1;
    QString m_strLocalFile;
    QString m_strRemoteFile;
    QString m_strHostField;
    QString m_strPortField = "69";
    QString m_strTimeoutField = "10";
    int m_bSendTimeout = 0;

signals:
    // The local address of a new transfer socket is known.
    void AddressChanged(const QString& strAddress);

protected:
    void OnProgress(ProgressKind kind, long nBytes) override;
    void OnBlockSize(int nBlockSize) override;
    void OnAddressChosen(const QString& strAddress) override;

private:
    // Replaces an idle transfer object by a new one; false while one runs.
    bool NewTransfer();
    // Send (1) or Get (0) with the form's values.
    void StartTransfer(int bSending);
    void OnLocalChanged();
    void OnRemoteChanged();
    QLabel* AddLabel(const QString& text, const QRect& rect);
    QLineEdit* AddEdit(int nId, const QString& name, const QRect& rect);
    QCheckBox* AddBox(int nId, const QString& text, const QRect& rect);
    QPushButton* AddButton(int nId, const QString& text, const QRect& rect);

    CSkifferCore& m_core;
    std::unique_ptr<CTransferSocket> m_pTransfer;
    long m_nScale = 1; // bytes per percent of the current transfer

    QLineEdit* m_pHost;
    QLineEdit* m_pPort;
    QLineEdit* m_pTimeout;
    QCheckBox* m_pSendTimeout;
    QPushButton* m_pSend;
    QPushButton* m_pGet;
    QComboBox* m_pBlockSize;
    QLineEdit* m_pLocal;
    QCheckBox* m_pMatch;
    QCheckBox* m_pBinary;
    QLineEdit* m_pRemote;
    QPushButton* m_pAbort;
    QProgressBar* m_progress;
    QLabel* m_pPicture;
};
