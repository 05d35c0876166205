#pragma once

// What the help tests of both programs look at: the pages in a resource
// folder, the links and anchors a page shows, following a link the way a
// user does, and what What's This shows for a click on a control.
#include "HelpWindow.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QWhatsThis>
#include <QWindow>
#include <QtTest>

namespace help_checks {

// Every page in a resource folder, by file name.
inline QStringList Pages(const QString& strFolder) {
    QStringList pages;
    QDirIterator it(strFolder, {"*.html"}, QDir::Files);
    while (it.hasNext())
        pages << QFileInfo(it.next()).fileName();
    pages.sort();
    return pages;
}

inline QByteArray PageSource(const QString& strFolder, const QString& strPage) {
    QFile file(strFolder + "/" + strPage);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The anchors a page defines with name= or id=.
inline QStringList Anchors(const QByteArray& html) {
    QStringList anchors;
    static const QRegularExpression re(R"re(\b(?:name|id)\s*=\s*"([^"]*)")re");
    for (auto it = re.globalMatch(QString::fromUtf8(html)); it.hasNext();)
        anchors << it.next().captured(1);
    return anchors;
}

// The link targets written in a page.
inline QStringList WrittenLinks(const QByteArray& html) {
    QStringList links;
    static const QRegularExpression re(R"re(\bhref\s*=\s*"([^"]*)")re");
    for (auto it = re.globalMatch(QString::fromUtf8(html)); it.hasNext();)
        links << it.next().captured(1);
    return links;
}

// The links a shown page offers, in the order Tab reaches them.
inline QStringList ShownLinks(const QTextDocument* pDocument) {
    QStringList links;
    QString strLast;
    for (QTextBlock block = pDocument->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            const QString strHref = format.isAnchor() ? format.anchorHref() : QString();
            if (!strHref.isEmpty() && strHref != strLast)
                links << strHref;
            strLast = strHref;
        }
    }
    return links;
}

// Moves to the link with Tab, as a user without a mouse does, and presses
// Enter on it.
inline void FollowLink(QTextBrowser* pBrowser, int nIndex) {
    pBrowser->setFocus();
    QTextCursor start = pBrowser->textCursor();
    start.movePosition(QTextCursor::Start);
    pBrowser->setTextCursor(start);
    for (int i = 0; i <= nIndex; ++i)
        QTest::keyClick(pBrowser, Qt::Key_Tab);
    QTest::keyClick(pBrowser, Qt::Key_Return);
}

// The links of a page, as shown in a help window over its folder, that do
// not land where they point when followed; a link written but not shown
// counts too.
inline QStringList LinksMissingTheirTarget(const QString& strFolder, const QString& strPage) {
    CHelpWindow window("Help", strFolder, "index.html");
    window.ShowTopic(strPage);
    const QUrl here("qrc" + strFolder + "/" + strPage);
    const QStringList shown = ShownLinks(window.Browser()->document());
    QStringList missing;
    for (const QString& href : WrittenLinks(PageSource(strFolder, strPage)))
        if (!shown.contains(href))
            missing << href + " (not shown)";
    for (int i = 0; i < shown.size(); ++i) {
        window.ShowTopic(strPage);
        FollowLink(window.Browser(), i);
        if (window.Browser()->source() != here.resolved(QUrl(shown[i])))
            missing << shown[i] + " (landed on " + window.Browser()->source().toString() + ")";
    }
    return missing;
}

// Whether Shift+F1 on a window starts What's This.
inline bool ShiftF1AsksWhatsThis(QWidget* pWindow) {
    pWindow->activateWindow();
    if (!QTest::qWaitForWindowActive(pWindow) || QWhatsThis::inWhatsThisMode())
        return false;
    QTest::keyClick(pWindow, Qt::Key_F1, Qt::ShiftModifier);
    const bool bAsked = QWhatsThis::inWhatsThisMode();
    QWhatsThis::leaveWhatsThisMode();
    return bAsked;
}

// The links of a page that lead nowhere: to no page of the folder, or to an
// anchor the page lacks.
inline QStringList BrokenLinks(const QString& strFolder, const QString& strPage) {
    const QUrl here("qrc" + strFolder + "/" + strPage);
    QStringList broken;
    for (const QString& href : WrittenLinks(PageSource(strFolder, strPage))) {
        const QUrl target = here.resolved(QUrl(href));
        const QByteArray html = target.scheme() == "qrc" && target.adjusted(QUrl::RemoveFilename |
                                                                            QUrl::RemoveFragment) ==
                                                                QUrl("qrc" + strFolder + "/")
                                    ? PageSource(strFolder, target.fileName())
                                    : QByteArray();
        if (html.isEmpty())
            broken << href + " (no such page)";
        else if (target.hasFragment() && !Anchors(html).contains(target.fragment()))
            broken << href + " (no such anchor)";
    }
    return broken;
}

// The pages no chain of links from the contents reaches.
inline QStringList UnreachablePages(const QString& strFolder, const QString& strContents) {
    QStringList pending{strContents};
    QSet<QString> reached{strContents};
    while (!pending.isEmpty()) {
        const QString page = pending.takeFirst();
        for (const QString& href : WrittenLinks(PageSource(strFolder, page))) {
            const QString target = QUrl(page).resolved(QUrl(href)).fileName();
            if (!reached.contains(target)) {
                reached << target;
                pending << target;
            }
        }
    }
    QStringList unreachable;
    for (const QString& page : Pages(strFolder))
        if (!reached.contains(page))
            unreachable << page;
    return unreachable;
}

// Records every request to open an address outside the program.
class ExternalOpenRecorder : public QObject {
    Q_OBJECT
public:
    ExternalOpenRecorder() {
        for (const char* pszScheme : kSchemes)
            QDesktopServices::setUrlHandler(pszScheme, this, "Open");
    }
    ~ExternalOpenRecorder() override {
        for (const char* pszScheme : kSchemes)
            QDesktopServices::unsetUrlHandler(pszScheme);
    }
    QList<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened << url; }

private:
    static constexpr const char* kSchemes[] = {"http", "https", "mailto", "file", "ftp"};
};

// Whether a widget is something the user operates or reads on its own,
// rather than a frame, a label or a part of another control.
inline bool IsControl(const QWidget* p) {
    if (p->objectName().startsWith("qt_"))
        return false;
    const QWidget* pParent = p->parentWidget();
    if (pParent && (qobject_cast<const QComboBox*>(pParent) ||
                    qobject_cast<const QAbstractScrollArea*>(pParent)))
        return false; // the combo box's field, a list's scroll bar
    return p->inherits("QAbstractButton") || p->inherits("QLineEdit") || p->inherits("QTextEdit") ||
           p->inherits("QAbstractItemView") || p->inherits("QProgressBar") ||
           p->inherits("QComboBox") || p->inherits("QTabBar") || p->inherits("QToolBar") ||
           p->inherits("QStatusBar") || p->inherits("QMenuBar");
}

// Watches What's This requests as they go from the widget under the
// pointer up to the one that answers.
class WhatsThisProbe : public QObject {
public:
    WhatsThisProbe() { qApp->installEventFilter(this); }
    ~WhatsThisProbe() override { qApp->removeEventFilter(this); }

    // The widget that answered a click at pos in What's This mode and the
    // text it showed (empty when no explanation appeared).
    std::pair<QWidget*, QString> Click(QWidget* pTarget, QPoint pos) {
        m_receivers.clear();
        QWhatsThis::enterWhatsThisMode();
        QWidget* pWindow = pTarget->window();
        QTest::mouseClick(pWindow->windowHandle(), Qt::LeftButton, {},
                          pTarget->mapTo(pWindow, pos));
        const bool bShown = QApplication::activePopupWidget() != nullptr;
        QWhatsThis::hideText();
        QWhatsThis::leaveWhatsThisMode();
        QCoreApplication::processEvents();
        if (!bShown || m_receivers.isEmpty() || !m_receivers.last())
            return {nullptr, QString()};
        QWidget* pAnswered = m_receivers.last();
        QString strText = pAnswered->whatsThis();
        if (auto* pTabs = qobject_cast<QTabBar*>(pAnswered))
            strText = pTabs->tabWhatsThis(pTabs->tabAt(m_lastPos));
        return {pAnswered, strText};
    }

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::WhatsThis && pWatched->isWidgetType()) {
            m_receivers << static_cast<QWidget*>(pWatched);
            m_lastPos = static_cast<QHelpEvent*>(pEvent)->pos();
        }
        return false;
    }

private:
    QList<QPointer<QWidget>> m_receivers;
    QPoint m_lastPos;
};

// The visible controls of a window that do not explain themselves when
// clicked in What's This mode, and the visible labels and frames a click on
// which shows no explanation at all. Tabs are clicked one by one.
inline QStringList Unexplained(QWidget* pWindow) {
    QStringList missing;
    WhatsThisProbe probe;
    auto describe = [](QWidget* p) {
        QString strName = p->accessibleName();
        if (strName.isEmpty())
            strName = p->property("text").toString();
        if (strName.isEmpty())
            strName = p->objectName();
        return QString("%1 '%2'").arg(p->metaObject()->className(), strName);
    };
    for (QWidget* p : pWindow->findChildren<QWidget*>()) {
        if (!p->isVisible() || p->isWindow() || p->width() < 2 || p->height() < 2)
            continue;
        if (auto* pTabs = qobject_cast<QTabBar*>(p)) {
            for (int i = 0; i < pTabs->count(); ++i) {
                const auto [pAnswered, strText] = probe.Click(p, pTabs->tabRect(i).center());
                if (pAnswered != p || strText.isEmpty())
                    missing << describe(p) + " tab " + pTabs->tabText(i);
            }
            continue;
        }
        // Qt's menu bar opens its menus in What's This mode; their entries
        // explain themselves (UnexplainedActions).
        const bool bControl = IsControl(p) && !p->inherits("QMenuBar");
        const bool bShown = p->inherits("QLabel") || p->inherits("QGroupBox");
        if (!bControl && !bShown)
            continue;
        const auto [pAnswered, strText] = probe.Click(p, p->rect().center());
        // A bar answers through the part under the pointer as well.
        const bool bBar =
            p->inherits("QToolBar") || p->inherits("QStatusBar") || p->inherits("QMenuBar");
        const bool bByItself = pAnswered == p || (bBar && p->isAncestorOf(pAnswered));
        if (strText.isEmpty() || (bControl && (!bByItself || p->whatsThis().isEmpty())))
            missing << describe(p);
    }
    return missing;
}

// The entries of a window's menus and toolbar without a What's This text.
// In What's This mode a click on a menu's title opens it, and a click on an
// enabled entry explains the entry.
inline QStringList UnexplainedActions(QWidget* pWindow) {
    QStringList missing;
    QList<QAction*> actions;
    if (auto* pBar = pWindow->findChild<QMenuBar*>()) {
        for (QAction* pMenuAction : pBar->actions()) {
            QMenu* pMenu = pMenuAction->menu();
            if (!pMenu)
                continue;
            actions << pMenu->actions();
            for (QAction* pEntry : pMenu->actions()) {
                if (pEntry->isSeparator() || !pEntry->isEnabled())
                    continue;
                QWhatsThis::enterWhatsThisMode();
                QTest::mouseClick(pWindow->windowHandle(), Qt::LeftButton, {},
                                  pBar->mapTo(pWindow, pBar->actionGeometry(pMenuAction).center()));
                bool bExplained = false;
                if (QTest::qWaitFor([pMenu] { return pMenu->isVisible(); }, 1000)) {
                    QTest::mouseClick(pMenu->windowHandle(), Qt::LeftButton, {},
                                      pMenu->actionGeometry(pEntry).center());
                    bExplained = !pMenu->isVisible() && QApplication::activePopupWidget() &&
                                 !qobject_cast<QMenu*>(QApplication::activePopupWidget());
                }
                QWhatsThis::hideText();
                QWhatsThis::leaveWhatsThisMode();
                pMenu->hide();
                QCoreApplication::processEvents();
                if (!bExplained)
                    missing << pEntry->text() + " (no explanation shown)";
            }
        }
    }
    for (QToolBar* pTools : pWindow->findChildren<QToolBar*>())
        actions << pTools->actions();
    for (QAction* p : actions)
        if (!p->isSeparator() && p->whatsThis().isEmpty())
            missing << p->text();
    return missing;
}

} // namespace help_checks
