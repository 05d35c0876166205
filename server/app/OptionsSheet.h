#pragma once

#include "WharfCore.h"

#include <QDialog>
#include <QString>

class CDialogUnits;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

// One page of the options sheet. Its fields are filled from the settings
// when the sheet opens, shown in the controls when the page is first shown,
// and copied back into the settings when the user confirms; a page that was
// never shown is never confirmed, so it cannot overwrite anything.
class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    CPropertyPage(int nDialogId, const QString& strCaption);

    QString Caption() const { return m_strCaption; }
    // What the page as a whole is for (its tab's What's This).
    virtual QString Summary() const = 0;
    bool WasShown() const { return m_bShown; }
    bool IsModified() const { return m_bModified; }
    void SetModified(bool bModified = true);

    // Settings into the page's fields (the sheet is opening).
    virtual void LoadFields(const CWharfCore& core) = 0;
    // The user confirmed with OK or Apply: controls into fields, fields into
    // the settings.
    virtual void OnConfirm(CWharfCore& core) = 0;

signals:
    void ModifiedChanged();

protected:
    // Fields into the controls, once, when the page is first shown.
    virtual void OnInitPage() = 0;
    void showEvent(QShowEvent* pEvent) override;

    QLineEdit* AddEdit(const CDialogUnits& du, int nId, int x, int y, int w, int h);
    QCheckBox* AddBox(const CDialogUnits& du, int nId, const QString& text, int x, int y);
    // The group around a field explains what the field does.
    void AddGroup(const CDialogUnits& du, const QString& title, int x, int y, int w, int h,
                  const QString& strWhatsThis);

private:
    QString m_strCaption;
    bool m_bShown = false;
    bool m_bModified = false;
};

class CInboundPage : public CPropertyPage {
    Q_OBJECT
public:
    QString Summary() const override;
    CInboundPage();
    void LoadFields(const CWharfCore& core) override;
    void OnConfirm(CWharfCore& core) override;

    QString m_strInPath;

protected:
    void OnInitPage() override;

private:
    QLineEdit* m_pPath;
};

class COutboundPage : public CPropertyPage {
    Q_OBJECT
public:
    QString Summary() const override;
    COutboundPage();
    void LoadFields(const CWharfCore& core) override;
    void OnConfirm(CWharfCore& core) override;

    int m_bForce = 0;
    QString m_strForceFile;
    QString m_strOutPath;

protected:
    void OnInitPage() override;

private:
    QCheckBox* m_pForce;
    QLineEdit* m_pForceFile;
    QLineEdit* m_pPath;
};

// The allow and deny pages: a flag and ten address patterns.
class CListPage : public CPropertyPage {
    Q_OBJECT
public:
    CListPage(int nDialogId, const QString& strCaption, const QString& strBox,
              const QString& strBoxHelp);

    int m_bFlag = 0;
    QString m_strEntry[kListEntries];

protected:
    void OnInitPage() override;
    void ConfirmInto(int& bFlag, QString (&entries)[kListEntries]);

private:
    QCheckBox* m_pFlag;
    QLineEdit* m_pEntry[kListEntries];
};

class CAllow : public CListPage {
    Q_OBJECT
public:
    QString Summary() const override;
    CAllow();
    void LoadFields(const CWharfCore& core) override;
    void OnConfirm(CWharfCore& core) override;
};

class CDeny : public CListPage {
    Q_OBJECT
public:
    QString Summary() const override;
    CDeny();
    void LoadFields(const CWharfCore& core) override;
    void OnConfirm(CWharfCore& core) override;
};

class COther : public CPropertyPage {
    Q_OBJECT
public:
    QString Summary() const override;
    COther();
    void LoadFields(const CWharfCore& core) override;
    void OnConfirm(CWharfCore& core) override;

    QString m_strPort;
    QString m_strTimeout;
    QString m_strMaxWindow;
    QString m_strMaxClients;
    QString m_strPortRange;
    int m_bMultihomed = 0;            // the host had more than one address
    bool m_bNoAddressRequest = false; // box 1035
    bool m_bAlert = true;             // box 1036
    bool m_bTsize = true;             // box 1037
    bool m_bTimeoutOption = true;     // box 1038

protected:
    void OnInitPage() override;

private:
    QLineEdit* AddField(const CDialogUnits& du, int nId, const char* pszTitle, int x, int y, int w,
                        const char* pszPattern, const char* pszHelp);
    QLineEdit* m_pPort;
    QLineEdit* m_pTimeout;
    QLineEdit* m_pMaxWindow;
    QLineEdit* m_pMaxClients;
    QLineEdit* m_pPortRange;
    QCheckBox* m_pBox[4];
};

// "Server Options": the settings in five pages, with OK, Cancel and Apply.
class COptions : public QDialog {
    Q_OBJECT
public:
    explicit COptions(CWharfCore& core, QWidget* pParent = nullptr);

    static constexpr int kApplyId = 12321;

    CInboundPage m_inbound;
    COutboundPage m_outbound;
    CAllow m_allow;
    CDeny m_deny;
    COther m_other;

    QTabWidget* Tabs() const { return m_pTabs; }
    void setVisible(bool bVisible) override;

    // A directory as the settings keep it: ending in the separator; empty
    // means the current directory.
    static QString NormalisePath(const QString& strPath);

public slots:
    void accept() override; // OK
    void OnApply();

private:
    bool Confirm();
    void UpdateApply();

    CWharfCore& m_core;
    QTabWidget* m_pTabs;
    QPushButton* m_pApply;
    bool m_bOpened = false;
};
