// The file-type icon cache: one entry per distinct icon, found by name alone.

#include "ui/window/FileIcons.h"

#include <QtTest>

class FileIconsTest : public QObject {
    Q_OBJECT

  private slots:
    void sameTypeSharesOneEntry_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("two pdfs") << "/a/report.pdf"
                                  << "/b/other.pdf";
        QTest::newRow("missing file") << "/no/such/folder/x.pdf"
                                      << "/elsewhere/y.pdf";
        QTest::newRow("upper-case extension") << "/a/REPORT.PDF"
                                              << "/b/x.pdf";
    }
    void sameTypeSharesOneEntry() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        ui::CFileIconCache cache;
        const int a = cache.GetFileIconIndex(first.toStdString());
        const int b = cache.GetFileIconIndex(second.toStdString());
        QCOMPARE(a, 0);
        QCOMPARE(b, 0);
        QCOMPARE(cache.Count(), 1);
        QVERIFY(!cache.Icon(a).isNull());
    }

    void distinctIconsGetDistinctEntries() {
        ui::CFileIconCache cache;
        const std::vector<std::string> names{"/a.pdf", "/b.txt", "/c.png", "/d.pdf", "/e.txt"};
        QSet<QString> keys;
        for (const auto& name : names)
            keys.insert(ui::CFileIconCache::IconKeyFor(name));
        std::vector<int> indexes;
        for (const auto& name : names)
            indexes.push_back(cache.GetFileIconIndex(name));
        // However many icons this desktop has for these types, each is kept once.
        QCOMPARE(cache.Count(), keys.size());
        QCOMPARE(indexes[0], indexes[3]);
        QCOMPARE(indexes[1], indexes[4]);
        QVERIFY(cache.Icon(-1).isNull());
        QVERIFY(cache.Icon(cache.Count()).isNull());
    }
};

QTEST_MAIN(FileIconsTest)
#include "FileIconsTest.moc"
