#pragma once

#include <QUrl>
#include <QWidget>

class QAction;
class QTextBrowser;

// The program's help: its own pages, kept in the program's resources, in a
// window of its own beside the main window (not modal, so transfers go on
// while it is open). Only the program's pages are ever shown: a link to
// anything else is not followed, and nothing is opened outside the window.
class CHelpWindow : public QWidget {
    Q_OBJECT
public:
    // strFolder: the resource folder of the pages (":/wharfkeep/help");
    // strContents: the contents page in it ("index.html").
    CHelpWindow(const QString& strTitle, const QString& strFolder, const QString& strContents);

    // Shows a page ("options.html" or "options.html#port") and brings the
    // window to the front; an unknown page shows the contents.
    void ShowTopic(const QString& strTopic);

    // Whether a link target (relative to the page shown, or absolute) is one
    // of this help's pages.
    bool IsOwnPage(const QUrl& url) const;
    QUrl Resolved(const QUrl& url) const;

    QTextBrowser* Browser() const { return m_pBrowser; }
    QAction* BackAction() const { return m_pBack; }
    QAction* ForwardAction() const { return m_pForward; }
    QAction* ContentsAction() const { return m_pContents; }

private:
    void OnLink(const QUrl& url);

    QString m_strFolder;
    QUrl m_contents;
    QTextBrowser* m_pBrowser = nullptr;
    QAction* m_pBack = nullptr;
    QAction* m_pForward = nullptr;
    QAction* m_pContents = nullptr;
};

// Shift+F1 in a dialog: the pointer asks which control to explain (the
// main windows have their own command for it).
void AddWhatsThisKey(QWidget* pWindow);
