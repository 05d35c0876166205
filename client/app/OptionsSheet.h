#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QTabWidget;

// One page of the options sheet: a flag and a directory. The page's fields
// go into its controls when it is first shown and come back from them when
// the sheet is confirmed; a page never shown keeps the fields it was given.
class CPathPage : public QWidget {
    Q_OBJECT
public:
    CPathPage(int nDialogId, const QString& strCaption, const QString& strBox,
              const QString& strPathName, const QString& strPathHelp, const QString& strBoxHelp);

    QString Caption() const { return m_strCaption; }
    // Controls into fields: check box first, path second.
    void SaveFields();

    int m_bFlag = 0;
    QString m_strPath;
    QCheckBox* m_pFlag;
    QLineEdit* m_pPath;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    QString m_strCaption;
    bool m_bShown = false;
};

// Form 111: where fetched files go, and whether they may replace a file.
class CIncomingPage : public CPathPage {
    Q_OBJECT
public:
    CIncomingPage();
};

// Form 112: where sent files come from, and whether remote names are
// shortened.
class COutgoingPage : public CPathPage {
    Q_OBJECT
public:
    COutgoingPage();
};

// Form 113: how transfers run. The window is the number of blocks asked
// of the server per acknowledgement; like the path pages, the page's field
// goes into its edit when first shown and comes back when confirmed.
class CTransferPage : public QWidget {
    Q_OBJECT
public:
    CTransferPage();

    QString Caption() const { return "Transfers"; }
    // The edit into the field, brought into 1..65535; empty is 1.
    void SaveFields();

    int m_nWindow = 1;
    QLineEdit* m_pWindow;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    bool m_bShown = false;
};

// "File Locations & Options": the three pages, OK and Cancel.
class COptionsSheet : public QDialog {
    Q_OBJECT
public:
    explicit COptionsSheet(QWidget* pParent = nullptr);

    CIncomingPage* m_pIncoming;
    COutgoingPage* m_pOutgoing;
    CTransferPage* m_pTransfers;
    QTabWidget* m_pTabs;

    void accept() override;
};

// "About Skiffer Client": modeless, opens on "Version"; Enter or the close
// box destroys it.
class CAbout : public QDialog {
    Q_OBJECT
public:
    CAbout();
    QTabWidget* Tabs() const { return m_pTabs; }

protected:
    void done(int nResult) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    QTabWidget* m_pTabs;
};

// Appends the separator to a directory confirmed without one.
QString DirectoryWithSeparator(const QString& strPath);
