// Modal windows hold off every time-out: which scopes count as open, and
// when the last one closed, on the test clock.
#include "Clock.h"
#include "MessageBox.h"
#include "Modal.h"

#include <QtTest>
#include <memory>
#include <vector>

namespace {
// One step of a script: open a scope, or close the innermost one, at a time.
struct Step {
    bool bOpen;
    time_t tAt;
};
} // namespace

Q_DECLARE_METATYPE(std::vector<Step>)

class TestModal : public QObject {
    Q_OBJECT
private slots:
    // Runs first: no window has been opened in this process yet.
    void nothingClosedBeforeTheFirstWindow() {
        QVERIFY(!CModalScope::IsOpen());
        QCOMPARE(CModalScope::LastClosed(), CTime(0));
    }

    void scopesNest_data() {
        QTest::addColumn<std::vector<Step>>("steps");
        QTest::addColumn<QList<bool>>("openAfter");      // after each step
        QTest::addColumn<QList<int>>("lastClosedAfter"); // after each close
        QTest::newRow("one window") << std::vector<Step>{{true, 100}, {false, 160}}
                                    << QList<bool>{true, false} << QList<int>{160};
        QTest::newRow("a box over a dialog")
            << std::vector<Step>{{true, 200}, {true, 210}, {false, 220}, {false, 300}}
            << QList<bool>{true, true, true, false} << QList<int>{220, 300};
        QTest::newRow("three deep")
            << std::vector<Step>{{true, 400},  {true, 401},  {true, 402},
                                 {false, 403}, {false, 404}, {false, 405}}
            << QList<bool>{true, true, true, true, true, false} << QList<int>{403, 404, 405};
        QTest::newRow("one after another")
            << std::vector<Step>{{true, 500}, {false, 510}, {true, 520}, {false, 590}}
            << QList<bool>{true, false, true, false} << QList<int>{510, 590};
    }
    void scopesNest() {
        QFETCH(std::vector<Step>, steps);
        QFETCH(QList<bool>, openAfter);
        QFETCH(QList<int>, lastClosedAfter);
        std::vector<std::unique_ptr<CModalScope>> open;
        QList<bool> seenOpen;
        QList<int> seenClosed;
        for (const Step& step : steps) {
            CTime::SetTestTime(step.tAt);
            if (step.bOpen) {
                open.push_back(std::make_unique<CModalScope>());
            } else {
                open.pop_back();
                seenClosed << static_cast<int>(CModalScope::LastClosed().GetTime());
            }
            seenOpen << CModalScope::IsOpen();
        }
        CTime::SetTestTime(std::nullopt);
        QCOMPARE(seenOpen, openAfter);
        QCOMPARE(seenClosed, lastClosedAfter);
    }

    // A message box is a modal window, whether a handler shows it or the
    // text only goes to standard error.
    void messageBoxIsModal_data() {
        QTest::addColumn<bool>("bHandler");
        QTest::addColumn<unsigned>("type");
        QTest::newRow("shown, ok") << true << MB_OK;
        QTest::newRow("shown, question") << true << (MB_YESNO | MB_ICONQUESTION);
        QTest::newRow("no screen, ok") << false << MB_OK;
        QTest::newRow("no screen, question") << false << (MB_YESNO | MB_ICONQUESTION);
    }
    void messageBoxIsModal() {
        QFETCH(bool, bHandler);
        QFETCH(unsigned, type);
        CTime::SetTestTime(7000);
        bool bOpenInside = false;
        MessageBoxHandler previous;
        if (bHandler) {
            previous = SetMessageBoxHandler([&](const QString&, unsigned) {
                bOpenInside = CModalScope::IsOpen();
                CTime::AdvanceTestTime(45); // the user reads it
                return IDOK;
            });
        } else {
            previous = SetMessageBoxHandler(nullptr);
        }
        AfxMessageBox("modal", type);
        SetMessageBoxHandler(previous);
        QCOMPARE(bOpenInside, bHandler);
        QVERIFY(!CModalScope::IsOpen());
        QCOMPARE(CModalScope::LastClosed(), CTime(bHandler ? 7045 : 7000));
        CTime::SetTestTime(std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestModal)
#include "tst_modal.moc"
