#include "HelpSuite.h"

#include "MessageBox.h"
#include "Modal.h"

namespace help_checks {

namespace {
QSet<QWidget*> VisibleWindows() {
    QSet<QWidget*> windows;
    for (QWidget* p : QApplication::topLevelWidgets())
        if (p->isVisible())
            windows << p;
    return windows;
}
} // namespace

void HelpSuite::helpCommandsOpenTheirPage_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("title");
    for (const HelpCommand& c : m_program.commands)
        QTest::newRow(qPrintable(c.strName)) << c.strName << c.strPage << c.strTitle;
}

void HelpSuite::helpCommandsOpenTheirPage() {
    QFETCH(QString, command);
    QFETCH(QString, page);
    QFETCH(QString, title);
    const QUrl url("qrc" + m_program.strFolder + "/" + page);
    const std::unique_ptr<ShownProgram> pShown = Start(true);
    pShown->Give(command);
    CHelpWindow* pHelp = pShown->HelpWindow();
    QVERIFY(pHelp);
    QVERIFY(pHelp->isVisible());
    QCOMPARE(pHelp->windowTitle(), m_program.strWindowTitle);
    QCOMPARE(pHelp->Browser()->source(), url);
    QCOMPARE(pHelp->Browser()->documentTitle(), title);
    // Not modal: nothing is held while it is open.
    QVERIFY(!CModalScope::IsOpen());
    QVERIFY(!QApplication::activeModalWidget());
    // Read elsewhere, closed, asked for again: the same window, at the same page.
    pHelp->ShowTopic(m_program.strElsewhere);
    QVERIFY(QTest::qWaitForWindowActive(pHelp));
    QTest::keyClick(pHelp, Qt::Key_Escape);
    QVERIFY(!pHelp->isVisible());
    pShown->MainWindow()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(pShown->MainWindow()));
    pShown->Give(command);
    QCOMPARE(pShown->HelpWindow(), pHelp);
    QVERIFY(pHelp->isVisible());
    QCOMPARE(pHelp->Browser()->source(), url);
}

void HelpSuite::nothingOpensWithoutAScreen_data() {
    QTest::addColumn<QString>("command");
    for (const HelpCommand& c : m_program.commands)
        QTest::newRow(qPrintable(c.strName)) << c.strName;
}

void HelpSuite::nothingOpensWithoutAScreen() {
    QFETCH(QString, command);
    const std::unique_ptr<ShownProgram> pShown = Start(false);
    QVERIFY(IsHeadless());
    const QSet<QWidget*> before = VisibleWindows();
    pShown->Give(command);
    QVERIFY(!pShown->HelpWindow());
    QCOMPARE(VisibleWindows(), before);
}

void HelpSuite::everyLinkLeadsToAPage_data() {
    QTest::addColumn<QString>("page");
    const QStringList pages = Pages(m_program.strFolder);
    QVERIFY(pages.size() >= m_program.nLeastPages);
    for (const QString& page : pages)
        QTest::newRow(qPrintable(page)) << page;
}

void HelpSuite::everyLinkLeadsToAPage() {
    QFETCH(QString, page);
    const QStringList broken =
        BrokenLinks(m_program.strFolder, page) + LinksMissingTheirTarget(m_program.strFolder, page);
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(", ")));
}

void HelpSuite::everyPageIsReachableFromTheContents() {
    QCOMPARE(UnreachablePages(m_program.strFolder, "index.html"), QStringList());
}

void HelpSuite::everyControlExplainsItself_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<bool>("bShiftF1");
    for (const QString& window : m_program.windows)
        QTest::newRow(qPrintable(window)) << window << !m_program.closedByAnyKey.contains(window);
}

void HelpSuite::everyControlExplainsItself() {
    QFETCH(QString, window);
    QFETCH(bool, bShiftF1);
    const std::unique_ptr<ShownProgram> pShown = Start(true);
    QWidget* pWindow = pShown->Open(window);
    QVERIFY(pWindow);
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    const QStringList controls = Unexplained(pWindow) + UnexplainedActions(pWindow);
    QVERIFY2(controls.isEmpty(), qPrintable(controls.join(", ")));
    // Asking about a control never works it.
    QVERIFY(pWindow->isVisible());
    QVERIFY(pShown->Undisturbed());
    if (bShiftF1)
        QVERIFY(ShiftF1AsksWhatsThis(pWindow));
}

} // namespace help_checks
