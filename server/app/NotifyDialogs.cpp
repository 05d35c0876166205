#include "NotifyDialogs.h"

#include "DialogUnits.h"
#include "HelpWindow.h"
#include "Icons.h"
#include "WindowCaption.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <QWindow>

namespace {
bool IsButtonPress(QEvent* pEvent) {
    if (pEvent->type() != QEvent::MouseButtonPress &&
        pEvent->type() != QEvent::NonClientAreaMouseButtonPress)
        return false;
    const Qt::MouseButton button = static_cast<QMouseEvent*>(pEvent)->button();
    return button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton;
}
} // namespace

// ---------------------------------------------------------------------------

QString CClientAlert::s_strAnimation = ":/wharfkeep/newclient.gif";

CClientAlert::CClientAlert()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowStaysOnTopHint) {
    InitWharfkeepResources();
    setObjectName("139");
    setWindowTitle("Wharfkeep  --  New Client being Served");
    // A forgotten alert must not keep the program alive after the frame closes.
    setAttribute(Qt::WA_QuitOnClose, false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 255));
    setPalette(palette);
    setAutoFillBackground(true);

    const CDialogUnits du(font());
    // Wide enough for the whole caption beside the window manager's buttons;
    // the controls stretch with it.
    const int nWidth = std::max(du.X(193), CaptionWidth(windowTitle(), font()));
    const int nExtra = nWidth - du.X(193);
    setFixedSize(nWidth, du.Y(70));

    m_pEdit = new QTextEdit(this);
    m_pEdit->setObjectName("1006");
    m_pEdit->setAccessibleName("New Client being Served");
    m_pEdit->setWhatsThis("The address of the client that has just arrived while the main "
                          "window is minimised.");
    m_pEdit->setGeometry(du.Rect(4, 4, 184, 16).adjusted(0, 0, nExtra, 0));
    m_pEdit->setReadOnly(true);
    m_pEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pEdit->document()->setDocumentMargin(2);
    m_pEdit->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));

    auto* pOk = new QPushButton("OK", this);
    pOk->setObjectName("1");
    pOk->setGeometry(du.Rect(8, 24, 176, 14).adjusted(0, 0, nExtra, 0));
    pOk->setWhatsThis("Hides this window; it comes back for the next client. Any key or click "
                      "on the window does the same.");

    m_pAnimation = new QLabel(this);
    m_pAnimation->setObjectName("1037");
    m_pAnimation->setAccessibleName("Animation");
    m_pAnimation->setWhatsThis("Catches your eye: a client is being served while the main "
                               "window is minimised.");
    setWhatsThis("New Client being Served: a client arrived while the main window was "
                 "minimised. Turn it off in System, Setup, Options.");
    m_pAnimation->setGeometry(du.Rect(11, 44, 172, 24).adjusted(0, 0, nExtra, 0));
    m_pAnimation->setAlignment(Qt::AlignCenter);
    auto* pMovie = new QMovie(s_strAnimation, QByteArray(), this);
    if (pMovie->isValid()) {
        m_pMovie = pMovie;
        m_pAnimation->setMovie(m_pMovie);
        m_pMovie->start();
    } else {
        delete pMovie; // no animation; the alert works without it
    }

    // Presses reach a window's children before the window itself, so the
    // whole program's events are watched for the ones aimed at this window.
    qApp->installEventFilter(this);
}

void CClientAlert::ShowAlert(const QString& strText) {
    m_strAlert = strText;
    m_pEdit->setPlainText(m_strAlert);
    const bool bFirst = !m_bShown;
    m_bShown = true;
    showNormal();
    // Centred once its frame is known; later it stays where the user put it.
    if (bFirst)
        CentreOnScreen(this);
    raise();
}

bool CClientAlert::IsMine(QObject* pObject) const {
    if (pObject == this || (windowHandle() && pObject == windowHandle()))
        return true;
    auto* pWidget = qobject_cast<QWidget*>(pObject);
    return pWidget && pWidget->window() == this;
}

bool CClientAlert::eventFilter(QObject* pWatched, QEvent* pEvent) {
    // While the user asks What's This, a click on the alert asks about it.
    if ((pEvent->type() == QEvent::KeyPress || IsButtonPress(pEvent)) && IsMine(pWatched) &&
        !QWhatsThis::inWhatsThisMode()) {
        hide();
        return true;
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

// ---------------------------------------------------------------------------

CAbout::CAbout() : QDialog(nullptr) {
    InitWharfkeepResources();
    setObjectName("CAbout");
    setWindowTitle("About Wharfkeep");
    setWindowIcon(WharfkeepIcon());
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* pContact = new QLabel("Wharfkeep TFTP Server\n\n"
                                "Harnwick Software\n"
                                "The Old Chandlery, Quay Lane\n"
                                "Harnwick\n\n"
                                "Questions and reports: support@harnwick.example");
    pContact->setObjectName("contact");
    pContact->setWhatsThis("Where to send questions and reports about Wharfkeep.");

    m_pTabs = new QTabWidget;
    m_pTabs->addTab(AboutPage(109, {pContact}), "About Harnwick");
    m_pTabs->addTab(VersionPage(104, WharfkeepIcon(), "Wharfkeep", "Version 6.5"), "Version");
    m_pTabs->setTabWhatsThis(0, "About Harnwick: the maker's address.");
    m_pTabs->setTabWhatsThis(1, "Version: the program's name and version.");
    m_pTabs->widget(0)->setWhatsThis(m_pTabs->tabWhatsThis(0));
    m_pTabs->widget(1)->setWhatsThis(m_pTabs->tabWhatsThis(1));
    m_pTabs->setCurrentIndex(1);
    setWhatsThis("About Wharfkeep: the program's version and the maker's address.");
    AddWhatsThisKey(this);

    auto* pOk = new QPushButton("OK");
    pOk->setObjectName("1");
    pOk->setDefault(true);
    pOk->setWhatsThis("Closes this window.");
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    pButtons->addWidget(pOk);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pTabs);
    pLayout->addLayout(pButtons);
    const CDialogUnits du(font());
    m_pTabs->setMinimumSize(du.X(200), du.Y(100));
    adjustSize();
    CentreOnScreen(this);
}

// OK, Escape and the close box all end here: the sheet goes for good.
void CAbout::done(int nResult) {
    QDialog::done(nResult);
    deleteLater();
}

// ---------------------------------------------------------------------------

namespace {
bool s_bSplashEnabled = false;
QPointer<CStartupSplash> s_pSplash;
} // namespace

QString CStartupSplash::s_strPicture = ":/wharfkeep/splash.png";

void CStartupSplash::EnableSplash(bool bEnable) {
    s_bSplashEnabled = bEnable;
}

void CStartupSplash::ShowSplash(QWidget* pMainFrame) {
    if (!s_bSplashEnabled || s_pSplash)
        return;
    InitWharfkeepResources();
    QPixmap picture(s_strPicture);
    if (picture.isNull())
        return;
    s_bSplashEnabled = false; // once per run
    s_pSplash = new CStartupSplash(picture, pMainFrame);
}

CStartupSplash* CStartupSplash::Splash() {
    return s_pSplash.data();
}

CStartupSplash::CStartupSplash(const QPixmap& picture, QWidget* pOwner)
    : QWidget(pOwner, Qt::SplashScreen | Qt::FramelessWindowHint), m_bitmap(picture),
      m_pOwner(pOwner) {
    setObjectName("CStartupSplash");
    setAccessibleName("Wharfkeep");
    setFixedSize(m_bitmap.deviceIndependentSize().toSize());
    setCursor(Qt::ArrowCursor);
    if (pOwner && pOwner->isVisible()) {
        QRect frame = frameGeometry();
        frame.moveCenter(pOwner->frameGeometry().center());
        move(frame.topLeft());
    } else {
        CentreOnScreen(this);
    }
    QTimer::singleShot(kTimerMs, Qt::PreciseTimer, this, [] { HideSplash(); });
    show();
    repaint();
    // The frame is shown right after its creation: stay in front of it.
    QTimer::singleShot(0, this, [this] { raise(); });
}

void CStartupSplash::paintEvent(QPaintEvent*) {
    QPainter(this).drawPixmap(0, 0, m_bitmap);
}

void CStartupSplash::HideSplash() {
    if (!s_pSplash)
        return;
    CStartupSplash* pSplash = s_pSplash;
    s_pSplash = nullptr;
    QPointer<QWidget> pOwner = pSplash->m_pOwner;
    pSplash->hide();
    // Later: the press that ends the splash may be on the splash itself.
    pSplash->deleteLater();
    if (pOwner)
        pOwner->repaint();
}

bool CStartupSplash::FilterSplashInput(QObject*, QEvent* pEvent) {
    if (!s_pSplash)
        return false;
    switch (pEvent->type()) {
    case QEvent::ShortcutOverride:
        // Claim the key so that no accelerator fires; the press that
        // follows removes the splash.
        pEvent->accept();
        return true;
    case QEvent::KeyPress:
        HideSplash();
        return true;
    default:
        if (IsButtonPress(pEvent)) {
            HideSplash();
            return true;
        }
        return false;
    }
}
