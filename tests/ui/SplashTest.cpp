#include "ui/window/Splash.h"
#include "ui/desktop/Artwork.h"

#include <QApplication>
#include <QTimer>
#include <QtTest>

using ui::CSplash;

class SplashTest : public QObject {
    Q_OBJECT

  private slots:
    void artworkHasItsSizes() {
        QCOMPARE(ui::SplashPicture().size(), QSize(277, 280));
        const QIcon icon = ui::ProgramIcon();
        QVERIFY(!icon.isNull());
        for (int side : {16, 32, 48})
            QCOMPARE(icon.pixmap(side, side).size(), QSize(side, side));
        // Drawn, not empty: the middle of the picture is not transparent.
        const QImage picture = ui::SplashPicture().toImage();
        QVERIFY(qAlpha(picture.pixel(138, 140)) > 0);
    }

    void keysCloseClicksDoNot() {
        const struct {
            Qt::Key key; // Qt::Key_unknown: a mouse click
            bool closes;
        } cases[] = {{Qt::Key_Escape, true},
                     {Qt::Key_Enter, true},
                     {Qt::Key_Return, true},
                     {Qt::Key_Space, false},
                     {Qt::Key_unknown, false}};
        for (const auto& c : cases) {
            QWidget owner;
            CSplash splash(&owner);
            splash.show();
            if (c.key == Qt::Key_unknown)
                QTest::mouseClick(splash.childAt(10, 10), Qt::LeftButton);
            else
                QTest::keyClick(&splash, c.key);
            QCOMPARE(splash.isVisible(), !c.closes);
        }
    }

    void closesItselfWhenItsTimeIsUp() {
        QWidget owner;
        CSplash splash(&owner);
        QCOMPARE(splash.Timer()->interval(), 3000);
        QVERIFY(splash.Timer()->isSingleShot());
        QVERIFY(!splash.Timer()->isActive());
        splash.show();
        QVERIFY(splash.Timer()->isActive());
        QMetaObject::invokeMethod(splash.Timer(), "timeout");
        QVERIFY(!splash.isVisible());
        QCOMPARE(splash.result(), 1);
    }

    void scheduledSplashIsModalOverItsWindow() {
        QWidget window;
        window.show();
        int seen = 0;
        bool modal = false;
        QWidget* owner = nullptr;
        QSize size;
        QTimer probe;
        connect(&probe, &QTimer::timeout, [&] {
            auto* splash = qobject_cast<CSplash*>(QApplication::activeModalWidget());
            if (!splash)
                return;
            ++seen;
            modal = splash->isModal();
            owner = splash->parentWidget();
            size = splash->size();
            QTest::keyClick(splash, Qt::Key_Escape);
        });
        probe.start(1);
        ui::ScheduleSplash(&window);
        QVERIFY(!QApplication::activeModalWidget()); // not at once
        QTRY_COMPARE(seen, 1);
        QVERIFY(modal);
        QCOMPARE(owner, &window);
        QCOMPARE(size, QSize(277, 280));
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(SplashTest)
#include "SplashTest.moc"
