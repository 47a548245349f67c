#include "ui/desktop/BugReport.h"

#include "core/Files.h"

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace ui {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The value of the first "key<sep>value" line of a /proc or os-release text.
std::optional<std::string> Field(std::string_view text, std::string_view key, char separator) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        size_t sep = line.find(separator);
        if (sep == std::string_view::npos || Trim(line.substr(0, sep)) != key)
            continue;
        return std::string(Trim(line.substr(sep + 1)));
    }
    return std::nullopt;
}

std::optional<unsigned long long> Number(const std::optional<std::string>& text) {
    if (!text || text->empty() || (*text)[0] < '0' || (*text)[0] > '9')
        return std::nullopt;
    return std::strtoull(text->c_str(), nullptr, 10);
}

// An os-release value without its shell quoting.
std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        const char quote = value.front();
        std::string inner;
        for (size_t i = 1; i + 1 < value.size(); ++i) {
            if (quote == '"' && value[i] == '\\' && i + 2 < value.size())
                ++i;
            inner += value[i];
        }
        return inner;
    }
    return value;
}

} // namespace

std::string ProcessorLevelText(int architecture, int level) {
    switch (architecture) {
    case 0:
        switch (level) {
        case 3:
            return "Intel 80386";
        case 4:
            return "Intel 80486";
        case 5:
            return "Pentium";
        case 6:
            return "Pentium (II/Pro)";
        default:
            return "";
        }
    case 1:
        return level == 4 ? "MIPS R4000" : "Unknown";
    case 2:
        return "Alpha" + std::to_string(level);
    case 3:
        switch (level) {
        case 1:
            return "PPC 601";
        case 3:
            return "PPC 603";
        case 4:
            return "PPC 604";
        case 6:
            return "PPC 603+";
        case 9:
            return "PPC 604+";
        case 20:
            return "PPC 620";
        default:
            return "";
        }
    default:
        return "";
    }
}

std::string MemoryText(unsigned long long kb) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%7.0f KB", static_cast<double>(kb));
    return std::string(Trim(buffer));
}

std::string MailValue(std::string_view value) {
    static constexpr std::string_view kKept = "-._~!$'()*,;:@/? ";
    std::string out;
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alnum = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9');
        if (alnum || (byte != 0 && kKept.find(c) != std::string_view::npos)) {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            out += hex;
        }
    }
    return out;
}

std::string BugReportMail(const std::string& supportAddress, const SystemInformation& info) {
    auto line = [](const char* label, const std::string& value) {
        return std::string(label) + " : " + MailValue(value) + "%0d";
    };
    std::string mail = "mailto:" + supportAddress + "?subject=Quillsever" +
                       "&body=%0d%0d%0d%0d-----------------------------------%0d";
    mail += "%0dQuillsever%0d%0d";
    mail += line("Product Version", info.productVersion) + "%0d";
    mail += line("Processors", info.processors);
    mail += line("Processor Level", info.processorLevel);
    mail += line("CPU Manufacturer", info.cpuManufacturer);
    mail += line("CPU Speed", info.cpuSpeed) + "%0d";
    mail += line("Application Memory Used", info.applicationMemoryUsed);
    mail += line("Total Psysical Memory", info.totalPhysicalMemory);
    mail += line("Psysical Memory Available", info.physicalMemoryAvailable);
    mail += line("Total Virtual Memory", info.totalVirtualMemory) + "%0d";
    mail += line("Operating System", info.operatingSystem);
    mail += line("OS Version", info.osVersion);
    mail += line("Service Pack", info.servicePack);
    mail += line("Build", info.build);
    return mail;
}

SystemInformation SystemInformationFrom(const LinuxSources& s) {
    SystemInformation info;
    if (s.processors > 0)
        info.processors = std::to_string(s.processors);

    const std::string_view machine = s.machine;
    int architecture = -1;
    int level = 0;
    if (machine == "x86_64" ||
        (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86")) {
        architecture = 0;
        level = static_cast<int>(Number(Field(s.cpuinfo, "cpu family", ':')).value_or(0));
    } else if (machine.starts_with("mips")) {
        architecture = 1;
    }
    info.processorLevel = ProcessorLevelText(architecture, level);
    info.cpuManufacturer = Field(s.cpuinfo, "vendor_id", ':').value_or("");
    if (auto mhz = Number(Field(s.cpuinfo, "cpu MHz", ':')))
        info.cpuSpeed = std::to_string(*mhz) + " MHz";

    if (auto rss = Number(Field(s.selfStatus, "VmRSS", ':')))
        info.applicationMemoryUsed = std::to_string(*rss) + " KB";
    if (auto total = Number(Field(s.meminfo, "MemTotal", ':')))
        info.totalPhysicalMemory = MemoryText(*total);
    auto available = Number(Field(s.meminfo, "MemAvailable", ':'));
    if (!available)
        available = Number(Field(s.meminfo, "MemFree", ':'));
    if (available)
        info.physicalMemoryAvailable = MemoryText(*available);
    if (s.addressSpaceKb > 0)
        info.totalVirtualMemory = MemoryText(s.addressSpaceKb);

    auto name = Field(s.osRelease, "NAME", '=');
    if (!name && !s.haveUname) {
        info.operatingSystem = "Not able to get OS information";
        return info;
    }
    info.operatingSystem = name ? Unquote(*name) : s.sysname;
    auto version = Field(s.osRelease, "VERSION_ID", '=');
    if (!version)
        version = Field(s.osRelease, "VERSION", '=');
    if (version)
        info.osVersion = Unquote(*version);
    if (s.haveUname) {
        info.servicePack = s.release;
        info.build = s.version;
    }
    return info;
}

LinuxSources ReadLinuxSources() {
    LinuxSources s;
    s.cpuinfo = core::ReadWholeFile("/proc/cpuinfo").value_or("");
    s.meminfo = core::ReadWholeFile("/proc/meminfo").value_or("");
    s.selfStatus = core::ReadWholeFile("/proc/self/status").value_or("");
    auto osRelease = core::ReadWholeFile("/etc/os-release");
    if (!osRelease)
        osRelease = core::ReadWholeFile("/usr/lib/os-release");
    s.osRelease = osRelease.value_or("");
    s.processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    struct utsname names {};
    if (::uname(&names) == 0) {
        s.haveUname = true;
        s.sysname = names.sysname;
        s.release = names.release;
        s.version = names.version;
        s.machine = names.machine;
    }
    // The space the process may address: its limit when one is set, otherwise the user half
    // the kernel gives a process (47 bits on 64-bit machines, 3 GiB on 32-bit ones).
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        s.addressSpaceKb = limit.rlim_cur / 1024;
    else
        s.addressSpaceKb = sizeof(void*) >= 8 ? (1ULL << 47) / 1024 : 3ULL * 1024 * 1024;
    return s;
}

void SendBugReport(core::Shell& shell, const std::string& supportAddress) {
    shell.Open(BugReportMail(supportAddress, SystemInformationFrom(ReadLinuxSources())));
}

} // namespace ui
