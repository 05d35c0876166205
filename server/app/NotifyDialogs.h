#pragma once

#include <QDialog>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QLabel;
class QMovie;
class QTabWidget;
class QTextEdit;

// "New Client being Served": tells a user whose main window is minimised
// that a client has arrived. Modeless and topmost; any key or mouse press on
// it only hides it (except in What's This mode), so that the next client can
// show the same window again.
class CClientAlert : public QDialog {
    Q_OBJECT
public:
    CClientAlert();

    void ShowAlert(const QString& strText);

    QString m_strAlert;
    QTextEdit* Edit() const { return m_pEdit; }
    QLabel* AnimationControl() const { return m_pAnimation; }
    QMovie* Animation() const { return m_pMovie; }

    // Where the animation comes from (tests point it elsewhere).
    static QString s_strAnimation;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    bool IsMine(QObject* pObject) const;

    QTextEdit* m_pEdit;
    QLabel* m_pAnimation;
    QMovie* m_pMovie = nullptr;
    bool m_bShown = false;
};

// "About Wharfkeep": modeless, without an owner window; it deletes itself
// when it closes, which clears every QPointer held to it.
class CAbout : public QDialog {
    Q_OBJECT
public:
    CAbout();
    QTabWidget* Tabs() const { return m_pTabs; }

    void done(int nResult) override;

private:
    QTabWidget* m_pTabs;
};

// The picture shown while the program starts: gone after 15 seconds or at
// the first key or mouse press anywhere in the program, which it swallows.
class CStartupSplash : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTimerMs = 15000;

    static void EnableSplash(bool bEnable);
    static void ShowSplash(QWidget* pMainFrame);
    // Offered every event before it is delivered; true consumes it.
    static bool FilterSplashInput(QObject* pReceiver, QEvent* pEvent);
    static void HideSplash();
    // The splash window while it is up, else null.
    static CStartupSplash* Splash();

    // Where the picture comes from (tests point it elsewhere).
    static QString s_strPicture;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    CStartupSplash(const QPixmap& picture, QWidget* pOwner);

    QPixmap m_bitmap;
    QPointer<QWidget> m_pOwner;
};
