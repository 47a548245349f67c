#include "ui/desktop/BugReport.h"

#include "tests/support/Doubles.h"

#include <QtTest>

namespace {

ui::SystemInformation Fixed() {
    ui::SystemInformation info;
    info.processors = "2";
    info.processorLevel = "Pentium (II/Pro)";
    info.cpuManufacturer = "GenuineIntel";
    info.cpuSpeed = "2793 MHz";
    info.applicationMemoryUsed = "51234 KB";
    info.totalPhysicalMemory = "8041236 KB";
    info.physicalMemoryAvailable = "5120000 KB";
    info.totalVirtualMemory = "137438953472 KB";
    info.operatingSystem = "R&D Linux";
    info.osVersion = "12";
    info.servicePack = "6.1.0-18-amd64";
    info.build = "#1 SMP 100% a=b+c";
    return info;
}

} // namespace

class BugReportTest : public QObject {
    Q_OBJECT
  private slots:
    void MailForFixedFactsByteForByte();
    void EmptyValuesKeepEveryLabel();
    void ValuesArePercentEncoded_data();
    void ValuesArePercentEncoded();
    void ProcessorLevelTable_data();
    void ProcessorLevelTable();
    void FactsFromLinuxSources();
    void NoOsSourcesSayNotAble();
    void SendingOpensTheMailRequest();
};

void BugReportTest::MailForFixedFactsByteForByte() {
    const std::string expected =
        "mailto:support@quillsever.example?subject=Quillsever&body=%0d%0d%0d%0d"
        "-----------------------------------%0d"
        "%0dQuillsever%0d%0d"
        "Product Version : 1.16%0d%0d"
        "Processors : 2%0d"
        "Processor Level : Pentium (II/Pro)%0d"
        "CPU Manufacturer : GenuineIntel%0d"
        "CPU Speed : 2793 MHz%0d%0d"
        "Application Memory Used : 51234 KB%0d"
        "Total Psysical Memory : 8041236 KB%0d"
        "Psysical Memory Available : 5120000 KB%0d"
        "Total Virtual Memory : 137438953472 KB%0d%0d"
        "Operating System : R%26D Linux%0d"
        "OS Version : 12%0d"
        "Service Pack : 6.1.0-18-amd64%0d"
        "Build : %231 SMP 100%25 a%3Db%2Bc%0d";
    QCOMPARE(ui::BugReportMail("support@quillsever.example", Fixed()), expected);
}

void BugReportTest::EmptyValuesKeepEveryLabel() {
    ui::SystemInformation info;
    info.productVersion = "1.16";
    const std::string mail = ui::BugReportMail("a@b.example", info);
    QVERIFY(mail.ends_with("%0dOperating System : %0dOS Version : %0dService Pack : %0d"
                           "Build : %0d"));
    int labels = 0;
    for (size_t at = mail.find(" : "); at != std::string::npos; at = mail.find(" : ", at + 1))
        ++labels;
    QCOMPARE(labels, 13);
}

void BugReportTest::ValuesArePercentEncoded_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("kept") << "Debian GNU/Linux 12 (x); a:b@c,d!*'$~_.-?"
                          << "Debian GNU/Linux 12 (x); a:b@c,d!*'$~_.-?";
    QTest::newRow("cutting characters") << "a&b#c%d=e+f"
                                        << "a%26b%23c%25d%3De%2Bf";
    QTest::newRow("quotes and brackets") << "\"<>[]{}|\\^`"
                                         << "%22%3C%3E%5B%5D%7B%7D%7C%5C%5E%60";
    QTest::newRow("line break and non-ASCII") << "a\nb\xc3\xa9"
                                              << "a%0Ab%C3%A9";
}

void BugReportTest::ValuesArePercentEncoded() {
    QFETCH(QString, value);
    QFETCH(QString, encoded);
    QCOMPARE(QString::fromStdString(ui::MailValue(value.toStdString())), encoded);
}

void BugReportTest::ProcessorLevelTable_data() {
    QTest::addColumn<int>("architecture");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("text");
    QTest::newRow("386") << 0 << 3 << "Intel 80386";
    QTest::newRow("486") << 0 << 4 << "Intel 80486";
    QTest::newRow("Pentium") << 0 << 5 << "Pentium";
    QTest::newRow("P6") << 0 << 6 << "Pentium (II/Pro)";
    QTest::newRow("x86 family 15") << 0 << 15 << "";
    QTest::newRow("R4000") << 1 << 4 << "MIPS R4000";
    QTest::newRow("other MIPS") << 1 << 0 << "Unknown";
    QTest::newRow("Alpha") << 2 << 21164 << "Alpha21164";
    QTest::newRow("PPC 601") << 3 << 1 << "PPC 601";
    QTest::newRow("PPC 603") << 3 << 3 << "PPC 603";
    QTest::newRow("PPC 604") << 3 << 4 << "PPC 604";
    QTest::newRow("PPC 603+") << 3 << 6 << "PPC 603+";
    QTest::newRow("PPC 604+") << 3 << 9 << "PPC 604+";
    QTest::newRow("PPC 620") << 3 << 20 << "PPC 620";
    QTest::newRow("other PPC") << 3 << 2 << "";
    QTest::newRow("other architecture") << 9 << 1 << "";
}

void BugReportTest::ProcessorLevelTable() {
    QFETCH(int, architecture);
    QFETCH(int, level);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(ui::ProcessorLevelText(architecture, level)), text);
}

void BugReportTest::FactsFromLinuxSources() {
    ui::LinuxSources s;
    s.cpuinfo = "processor\t: 0\nvendor_id\t: AuthenticAMD\ncpu family\t: 6\n"
                "model name\t: X\ncpu MHz\t\t: 2793.437\n\nprocessor\t: 1\ncpu MHz\t\t: 1200.0\n";
    s.meminfo = "MemTotal:        8041236 kB\nMemFree:          100 kB\n"
                "MemAvailable:     5120000 kB\n";
    s.selfStatus = "Name:\tquillsever\nVmRSS:\t   51234 kB\n";
    s.osRelease = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
                  "VERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\n";
    s.processors = 4;
    s.haveUname = true;
    s.sysname = "Linux";
    s.release = "6.1.0-18-amd64";
    s.version = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)";
    s.machine = "x86_64";
    s.addressSpaceKb = 137438953472ULL;
    const ui::SystemInformation info = ui::SystemInformationFrom(s);
    QCOMPARE(info.productVersion, std::string("1.16"));
    QCOMPARE(info.processors, std::string("4"));
    QCOMPARE(info.processorLevel, std::string("Pentium (II/Pro)"));
    QCOMPARE(info.cpuManufacturer, std::string("AuthenticAMD"));
    QCOMPARE(info.cpuSpeed, std::string("2793 MHz"));
    QCOMPARE(info.applicationMemoryUsed, std::string("51234 KB"));
    QCOMPARE(info.totalPhysicalMemory, std::string("8041236 KB"));
    QCOMPARE(info.physicalMemoryAvailable, std::string("5120000 KB"));
    QCOMPARE(info.totalVirtualMemory, std::string("137438953472 KB"));
    QCOMPARE(info.operatingSystem, std::string("Debian GNU/Linux"));
    QCOMPARE(info.osVersion, std::string("12"));
    QCOMPARE(info.servicePack, std::string("6.1.0-18-amd64"));
    QCOMPARE(info.build, std::string("#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"));
    // Small sizes are still written without padding; old kernels give MemFree.
    s.meminfo = "MemTotal: 512 kB\nMemFree: 7 kB\n";
    QCOMPARE(ui::SystemInformationFrom(s).totalPhysicalMemory, std::string("512 KB"));
    QCOMPARE(ui::SystemInformationFrom(s).physicalMemoryAvailable, std::string("7 KB"));
}

void BugReportTest::NoOsSourcesSayNotAble() {
    ui::LinuxSources s;
    s.machine = "riscv64";
    const ui::SystemInformation info = ui::SystemInformationFrom(s);
    QCOMPARE(info.operatingSystem, std::string("Not able to get OS information"));
    QCOMPARE(info.osVersion + info.servicePack + info.build + info.cpuSpeed + info.processors +
                 info.processorLevel + info.totalPhysicalMemory,
             std::string());
}

void BugReportTest::SendingOpensTheMailRequest() {
    testing_support::CRecordingShell shell;
    ui::SendBugReport(shell, "help@quillsever.example");
    QCOMPARE(shell.opened.size(), size_t(1));
    const std::string& mail = shell.opened[0];
    QVERIFY(mail.starts_with("mailto:help@quillsever.example?subject=Quillsever&body="));
    // This very process is running, so its resident memory is known.
    QVERIFY(mail.find("Application Memory Used : %0d") == std::string::npos);
    QVERIFY(mail.find("Application Memory Used : ") != std::string::npos);
}

QTEST_MAIN(BugReportTest)
#include "BugReportTest.moc"
