#pragma once

#include "core/Shell.h"

#include <string>
#include <string_view>

namespace ui {

// The facts the bug report carries, as the texts that go into the mail.
struct SystemInformation {
    std::string productVersion = "1.16";
    std::string processors;
    std::string processorLevel;
    std::string cpuManufacturer;
    std::string cpuSpeed;
    std::string applicationMemoryUsed;
    std::string totalPhysicalMemory;
    std::string physicalMemoryAvailable;
    std::string totalVirtualMemory;
    std::string operatingSystem;
    std::string osVersion;
    std::string servicePack;
    std::string build;
};

// The raw sources on Linux, read by ReadLinuxSources and turned into texts by
// SystemInformationFrom, so that the turning can be checked on fixed inputs.
struct LinuxSources {
    std::string cpuinfo;    // /proc/cpuinfo
    std::string meminfo;    // /proc/meminfo
    std::string selfStatus; // /proc/self/status
    std::string osRelease;  // /etc/os-release (or /usr/lib/os-release)
    long processors = 0;    // sysconf(_SC_NPROCESSORS_ONLN)
    bool haveUname = false;
    std::string sysname, release, version, machine; // uname
    unsigned long long addressSpaceKb = 0;          // the process's address-space size
};

// The processor model text for an architecture (0 x86, 1 MIPS, 2 Alpha, 3 PowerPC) and level.
std::string ProcessorLevelText(int architecture, int level);

// A memory size in KB as the report writes it ("%7.0f KB" without its leading spaces).
std::string MemoryText(unsigned long long kb);

// A value made safe for the mail request: every byte but letters, digits, space and
// - . _ ~ ! $ ' ( ) * , ; : @ / ? is written %XX, so '&', '#', '%', '=' and '+' cannot cut the
// body or change its meaning.
std::string MailValue(std::string_view value);

// The whole mailto request for a support address and the collected facts.
std::string BugReportMail(const std::string& supportAddress, const SystemInformation& info);

// The texts from the Linux sources:
//   Processors: online processors; Processor Level: the x86 "cpu family" through the model
//   table (MIPS machines give "Unknown", other machines nothing); CPU Manufacturer: vendor_id;
//   CPU Speed: the first "cpu MHz", whole megahertz; Application Memory Used: VmRSS;
//   Total Psysical Memory: MemTotal; Psysical Memory Available: MemAvailable (MemFree on old
//   kernels); Total Virtual Memory: the address-space size; Operating System: os-release NAME
//   (else the kernel's name); OS Version: VERSION_ID (else VERSION); Service Pack: the kernel
//   release; Build: the kernel's build text. Without os-release and uname the system is
//   "Not able to get OS information". Anything missing stays empty.
SystemInformation SystemInformationFrom(const LinuxSources& sources);

LinuxSources ReadLinuxSources();

// Collects the facts, builds the request and hands it to the desktop's mail program. Nothing is
// reported either way.
void SendBugReport(core::Shell& shell, const std::string& supportAddress);

} // namespace ui
