#include "port_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelto {
namespace {

namespace fs = std::filesystem;

std::string readAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string value;
    std::getline(in, value);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r'))
        value.pop_back();
    return value;
}

std::string linkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// The device's own directory and its parents, up to the root of the tree.
std::vector<fs::path> ancestry(const fs::path& device, const fs::path& sysRoot) {
    std::vector<fs::path> chain;
    for (fs::path p = device; p.string().size() > sysRoot.string().size() && p != p.parent_path();
         p = p.parent_path())
        chain.push_back(p);
    return chain;
}

void describeDevice(PortInfo& port, const fs::path& device, const fs::path& sysRoot) {
    for (const fs::path& p : ancestry(device, sysRoot)) {
        // The generic serial port layer of newer kernels sits between the tty and its driver.
        if (port.driver.empty() && fs::is_symlink(p / "driver") &&
            linkName(p / "subsystem") != "serial-base")
            port.driver = linkName(p / "driver");
        if (port.vendorId.empty() && fs::exists(p / "idVendor")) {
            port.vendorId = readAttribute(p / "idVendor");
            port.productId = readAttribute(p / "idProduct");
            port.serial = readAttribute(p / "serial");
            port.manufacturer = readAttribute(p / "manufacturer");
            port.product = readAttribute(p / "product");
        }
    }
}

std::vector<std::string> stableNames(const std::string& name, const fs::path& devRoot) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(devRoot / "serial" / "by-id", ec)) {
        if (!entry.is_symlink())
            continue;
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (!ec && target.filename() == name)
            names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool inGroup(gid_t gid) {
    if (getegid() == gid)
        return true;
    std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
    const int n = getgroups(static_cast<int>(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(n, 0), gid) != groups.end();
}

// Whether this process may open the node for reading and writing, and what to do if not.
void checkAccess(PortInfo& port) {
    struct stat st {};
    if (stat(port.device.c_str(), &st) != 0) {
        port.remedy = "the device node is missing";
        return;
    }
    const uid_t uid = geteuid();
    const mode_t rw = st.st_uid == uid     ? (S_IRUSR | S_IWUSR)
                      : inGroup(st.st_gid) ? (S_IRGRP | S_IWGRP)
                                           : (S_IROTH | S_IWOTH);
    port.mayOpen = uid == 0 || (st.st_mode & rw) == rw;
    if (port.mayOpen)
        return;
    const group* g = getgrgid(st.st_gid);
    const bool groupMayOpen = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!g || st.st_gid == 0 || !groupMayOpen) {
        port.remedy = "an administrator has to give read and write access (a udev rule)";
        return;
    }
    const std::string groupName = g->gr_name;
    const passwd* user = getpwuid(uid);
    bool listed = false;
    for (char** member = g->gr_mem; user && member && *member; ++member)
        listed = listed || user->pw_name == std::string(*member);
    port.remedy = listed ? "you are in the group " + groupName +
                               " but this session is not: log in again (or run: newgrp " +
                               groupName + ")"
                         : "join the group " + groupName + ": sudo usermod -aG " + groupName +
                               " $USER, then log in again";
}

// ttyS2 before ttyS10.
bool byName(const PortInfo& a, const PortInfo& b) {
    auto split = [](const std::string& s) {
        const size_t digits = s.find_last_not_of("0123456789") + 1;
        return std::make_pair(s.substr(0, digits),
                              digits < s.size() ? std::stol(s.substr(digits)) : -1L);
    };
    return split(a.device) < split(b.device);
}

} // namespace

std::vector<PortInfo> listPorts(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<PortInfo> ports;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", ec)) {
        const fs::path tty = entry.path();
        const std::string name = tty.filename().string();
        if (!fs::exists(tty / "device") ||
            (fs::exists(tty / "type") && readAttribute(tty / "type") == "0"))
            continue;
        PortInfo port;
        port.device = (fs::path(devRoot) / name).string();
        if (name.rfind("ttyS", 0) == 0 && name.size() > 4 &&
            name.find_first_not_of("0123456789", 4) == std::string::npos)
            port.portNumber = std::stoi(name.substr(4)) + 1;
        describeDevice(port, fs::canonical(tty / "device", ec), fs::canonical(sysRoot, ec));
        port.byId = stableNames(name, devRoot);
        checkAccess(port);
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(), byName);
    return ports;
}

std::string formatPorts(const std::vector<PortInfo>& ports) {
    if (ports.empty())
        return "No serial ports found.\n";
    std::string out;
    auto field = [&out](const char* label, const std::string& value) {
        if (!value.empty())
            out += std::string("  ") + label + std::string(10 - std::string(label).size(), ' ') +
                   value + "\n";
    };
    for (const PortInfo& p : ports) {
        out += p.device;
        if (p.portNumber > 0)
            out += " (port " + std::to_string(p.portNumber) + ")";
        out += "\n";
        for (const std::string& name : p.byId)
            field("by-id", name);
        if (!p.vendorId.empty())
            field("usb id", p.vendorId + ":" + p.productId);
        field("serial", p.serial);
        field("maker", p.manufacturer);
        field("product", p.product);
        field("driver", p.driver);
        field("access", p.mayOpen ? "yes" : "no: " + p.remedy);
    }
    return out;
}

} // namespace zelto
