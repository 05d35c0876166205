// The help window over a small set of pages of its own: which links it
// follows, which it leaves alone, Back, Forward, Contents, Escape, and
// opening at a topic.
#include "HelpChecks.h"
#include "HelpWindow.h"

#include <QScrollBar>
#include <QToolButton>
#include <QtTest>

using namespace help_checks;

namespace {
const QString kFolder = ":/testhelp";

QUrl Page(const QString& strTopic) {
    return QUrl("qrc:/testhelp/").resolved(QUrl(strTopic));
}

int LinkIndex(CHelpWindow& window, const QString& strHref) {
    return static_cast<int>(ShownLinks(window.Browser()->document()).indexOf(strHref));
}

QList<QWidget*> VisibleWindows() {
    QList<QWidget*> windows;
    for (QWidget* p : QApplication::topLevelWidgets())
        if (p->isVisible())
            windows << p;
    return windows;
}

// A window open at the contents, active, as after the Help command.
struct OpenHelp {
    CHelpWindow window{"Test Help", kFolder, "index.html"};
    OpenHelp() {
        window.ShowTopic("index.html");
        if (!QTest::qWaitForWindowActive(&window))
            qWarning("the help window did not become active");
    }
};
} // namespace

class TestHelpWindow : public QObject {
    Q_OBJECT
private slots:
    void linksOutsideTheHelpAreNotFollowed_data() {
        QTest::addColumn<QString>("href");
        for (const char* href :
             {"http://example.invalid/page.html", "https://example.invalid/",
              "mailto:someone@example.invalid", "file:///etc/hostname",
              "ftp://example.invalid/file", "qrc:/elsewhere/page.html", "../outside.html",
              "missing.html", "//example.invalid/page.html", "%2e%2e/outside.html"})
            QTest::newRow(href) << href;
    }
    void linksOutsideTheHelpAreNotFollowed() {
        QFETCH(QString, href);
        ExternalOpenRecorder recorder;
        OpenHelp help;
        const QList<QWidget*> before = VisibleWindows();
        const int nIndex = LinkIndex(help.window, href);
        QVERIFY2(nIndex >= 0, "the test page lacks the link");
        QVERIFY(!help.window.IsOwnPage(QUrl(href)));
        FollowLink(help.window.Browser(), nIndex);
        QTest::qWait(20);
        QCOMPARE(help.window.Browser()->source(), Page("index.html"));
        QVERIFY(help.window.Browser()->toPlainText().startsWith("Contents"));
        QCOMPARE(recorder.opened, QList<QUrl>());
        QCOMPARE(VisibleWindows(), before);
        QVERIFY(!help.window.BackAction()->isEnabled());
    }

    void ownLinksAreFollowed_data() {
        QTest::addColumn<QString>("href");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("text"); // a line the reader sees after the jump
        QTest::addColumn<bool>("scrolled");
        QTest::newRow("page") << "second.html"
                              << "second.html"
                              << "Back to the contents" << false;
        QTest::newRow("anchor on another page") << "second.html#middle"
                                                << "second.html#middle"
                                                << "Middle." << true;
        QTest::newRow("anchor on the same page") << "#bottom"
                                                 << "index.html#bottom"
                                                 << "Bottom." << true;
    }
    void ownLinksAreFollowed() {
        QFETCH(QString, href);
        QFETCH(QString, page);
        QFETCH(QString, text);
        QFETCH(bool, scrolled);
        OpenHelp help;
        QTextBrowser* pBrowser = help.window.Browser();
        FollowLink(pBrowser, LinkIndex(help.window, href));
        QCOMPARE(pBrowser->source(), Page(page));
        QVERIFY(pBrowser->toPlainText().contains(text));
        QCOMPARE(pBrowser->verticalScrollBar()->value() > 0, scrolled);
        QVERIFY(help.window.BackAction()->isEnabled());
    }

    // Each step: "link <href>", or a key or button of the window.
    void backForwardAndContents_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("back");
        QTest::addColumn<bool>("forward");
        QTest::newRow("nothing yet") << QStringList{} << "index.html" << false << false;
        QTest::newRow("link") << QStringList{"link second.html"} << "second.html" << true << false;
        QTest::newRow("Alt+Left") << QStringList{"link second.html", "Alt+Left"} << "index.html"
                                  << false << true;
        QTest::newRow("Back button")
            << QStringList{"link second.html", "Back"} << "index.html" << false << true;
        QTest::newRow("Alt+Right") << QStringList{"link second.html", "Alt+Left", "Alt+Right"}
                                   << "second.html" << true << false;
        QTest::newRow("Forward button")
            << QStringList{"link second.html", "Back", "Forward"} << "second.html" << true << false;
        QTest::newRow("Contents button")
            << QStringList{"link second.html#middle", "Contents"} << "index.html" << true << false;
        QTest::newRow("Alt+Home") << QStringList{"link second.html", "Alt+Home"} << "index.html"
                                  << true << false;
        QTest::newRow("back twice")
            << QStringList{"link second.html", "link index.html", "Back", "Back"} << "index.html"
            << false << true;
        QTest::newRow("a new link drops what lay ahead")
            << QStringList{"link second.html", "Back", "link #bottom"} << "index.html#bottom"
            << true << false;
    }
    void backForwardAndContents() {
        QFETCH(QStringList, steps);
        QFETCH(QString, page);
        QFETCH(bool, back);
        QFETCH(bool, forward);
        OpenHelp help;
        const QMap<QString, QKeyCombination> keys{{"Alt+Left", Qt::ALT | Qt::Key_Left},
                                                  {"Alt+Right", Qt::ALT | Qt::Key_Right},
                                                  {"Alt+Home", Qt::ALT | Qt::Key_Home}};
        for (const QString& step : steps) {
            if (step.startsWith("link ")) {
                FollowLink(help.window.Browser(), LinkIndex(help.window, step.mid(5)));
            } else if (keys.contains(step)) {
                QTest::keyClick(&help.window, keys[step].key(), keys[step].keyboardModifiers());
            } else {
                auto* pButton = help.window.findChild<QToolButton*>(step);
                QVERIFY2(pButton, qPrintable(step));
                QTest::mouseClick(pButton, Qt::LeftButton);
            }
        }
        QCOMPARE(help.window.Browser()->source(), Page(page));
        QCOMPARE(help.window.BackAction()->isEnabled(), back);
        QCOMPARE(help.window.ForwardAction()->isEnabled(), forward);
        QCOMPARE(help.window.findChild<QToolButton*>("Back")->isEnabled(), back);
        QCOMPARE(help.window.findChild<QToolButton*>("Forward")->isEnabled(), forward);
    }

    void escapeClosesAndATopicReopens_data() {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("page");
        QTest::newRow("page") << "second.html"
                              << "second.html";
        QTest::newRow("page and anchor") << "second.html#middle"
                                         << "second.html#middle";
        QTest::newRow("no such page") << "nothing.html"
                                      << "index.html";
        QTest::newRow("outside the folder") << "../outside.html"
                                            << "index.html";
        QTest::newRow("web address") << "http://example.invalid/"
                                     << "index.html";
    }
    void escapeClosesAndATopicReopens() {
        QFETCH(QString, topic);
        QFETCH(QString, page);
        ExternalOpenRecorder recorder;
        OpenHelp help;
        QTest::keyClick(&help.window, Qt::Key_Escape);
        QVERIFY(!help.window.isVisible());
        help.window.ShowTopic(topic);
        QVERIFY(help.window.isVisible());
        QVERIFY(QTest::qWaitForWindowActive(&help.window));
        QCOMPARE(help.window.Browser()->source(), Page(page));
        QCOMPARE(recorder.opened, QList<QUrl>());
    }

    void minimisedWindowComesBack() {
        OpenHelp help;
        help.window.showMinimized();
        help.window.ShowTopic("second.html");
        QVERIFY(!help.window.isMinimized());
        QVERIFY(help.window.isVisible());
    }

    void everyControlIsNamed() {
        OpenHelp help;
        QCOMPARE(help.window.windowTitle(), QString("Test Help"));
        QCOMPARE(help.window.accessibleName(), QString("Test Help"));
        QStringList unnamed;
        for (QWidget* p : help.window.findChildren<QWidget*>())
            if (IsControl(p) && p->accessibleName().isEmpty())
                unnamed << p->metaObject()->className();
        QVERIFY(!help.window.Browser()->accessibleName().isEmpty());
        QCOMPARE(unnamed, QStringList());
        QVERIFY2(Unexplained(&help.window).isEmpty(),
                 qPrintable(Unexplained(&help.window).join(", ")));
    }
};

QTEST_MAIN(TestHelpWindow)
#include "tst_helpwindow.moc"
