// The host's configuration files: INI text ("[SECTION]" lines, then "KEY=value" lines) under a
// root folder that stands for the controller's file system.
//
// A write reads the whole file, updates the key in place (or appends it to its section, or
// appends the section), writes the result to a temporary file beside it, flushes and syncs it,
// and renames it over the file: a reader sees the old file or the new one, never half of one.
// Values are printed with nine significant digits, which reads back to the identical float.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "simhost_internal.hpp"

namespace kxsim {

namespace {

std::string g_root;              // empty until first use
std::string g_auto_root;         // the per-process folder made when no root was given
bool g_fail_before_rename = false;

// At exit the per-process folder goes again when nothing was left in it.
void remove_auto_root() {
    if (!g_auto_root.empty()) {
        ::rmdir(g_auto_root.c_str());
    }
}

struct Line {
    std::string text;  // the line as in the file (for key lines "KEY=value")
    std::string key;   // empty for lines that are not keys
};

struct Section {
    std::string name;  // empty for lines before the first section header
    std::vector<Line> lines;
};

std::string trim(const std::string &s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) {
        --e;
    }
    return s.substr(b, e - b);
}

bool read_text(const std::string &file, std::string *text) {
    std::FILE *f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    char buf[4096];
    std::size_t n;
    text->clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text->append(buf, n);
    }
    static_cast<void>(std::fclose(f));
    return true;
}

std::vector<Section> parse(const std::string &text) {
    std::vector<Section> sections(1);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string raw = text.substr(pos, end - pos);
        pos = end + 1;
        const std::string t = trim(raw);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            sections.push_back(Section{trim(t.substr(1, t.size() - 2)), {}});
            continue;
        }
        Line line{raw, std::string()};
        const std::size_t eq = t.find('=');
        if (eq != std::string::npos && t[0] != ';' && t[0] != '#') {
            line.key = trim(t.substr(0, eq));
        }
        sections.back().lines.push_back(line);
    }
    return sections;
}

std::string render(const std::vector<Section> &sections) {
    std::string out;
    for (const Section &s : sections) {
        if (!s.name.empty()) {
            out += "[" + s.name + "]\n";
        }
        for (const Line &l : s.lines) {
            out += l.text + "\n";
        }
    }
    return out;
}

bool name_ok(const char *s) {
    if (s == nullptr || *s == '\0') {
        return false;
    }
    for (const char *p = s; *p != '\0'; ++p) {
        if (*p == '\n' || *p == '\r' || *p == '=' || *p == '[' || *p == ']') {
            return false;
        }
    }
    return true;
}

void make_dirs(const std::string &dir) {
    for (std::size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            ::mkdir(dir.substr(0, i).c_str(), 0755);
        }
    }
}

std::string parent_of(const std::string &file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

// Writes text to file atomically; false on any failure (the old file then stays).
bool replace_file(const std::string &file, const std::string &text) {
    const std::string dir = parent_of(file);
    make_dirs(dir);
    const std::string tmp = file + ".tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
                         std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        static_cast<void>(std::remove(tmp.c_str()));
        return false;
    }
    if (g_fail_before_rename) {
        g_fail_before_rename = false;  // the temporary file stays, as after a crash
        return false;
    }
    if (std::rename(tmp.c_str(), file.c_str()) != 0) {
        static_cast<void>(std::remove(tmp.c_str()));
        return false;
    }
    const int dfd = ::open(dir.c_str(), O_RDONLY);
    if (dfd >= 0) {
        ::fsync(dfd);  // make the rename itself durable
        ::close(dfd);
    }
    return true;
}

}  // namespace

namespace detail {
void reset_config_hooks() { g_fail_before_rename = false; }
}  // namespace detail

const std::string &detail::root_path() {
    if (g_root.empty()) {
        const char *env = std::getenv("KXMC_CONFIG_ROOT");
        if (env != nullptr && *env != '\0') {
            g_root = env;
        } else {
            const char *tmpdir = std::getenv("TMPDIR");
            std::string templ = std::string(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp") +
                                "/kxsimhost-XXXXXX";
            std::vector<char> buf(templ.begin(), templ.end());
            buf.push_back('\0');
            if (::mkdtemp(buf.data()) != nullptr) {
                g_root = buf.data();
                g_auto_root = g_root;
                static_cast<void>(std::atexit(remove_auto_root));
            } else {
                g_root = templ.substr(0, templ.size() - 7) + std::to_string(::getpid());
            }
        }
        make_dirs(g_root);
    }
    return g_root;
}

std::string config_root() { return detail::root_path(); }

void set_config_root(const std::string &root) {
    g_root = root;
    make_dirs(g_root);
}

// Host paths are mapped under the root; a path that climbs out of it ("..") maps to nothing.
std::string config_file(const std::string &host_path) {
    if (host_path.empty() || host_path.find("..") != std::string::npos) {
        return std::string();
    }
    return config_root() + (host_path[0] == '/' ? "" : "/") + host_path;
}

std::vector<ConfigKey> read_config(const std::string &host_path) {
    std::vector<ConfigKey> out;
    std::string text;
    const std::string file = config_file(host_path);
    if (file.empty() || !read_text(file, &text)) {
        return out;
    }
    for (const Section &s : parse(text)) {
        for (const Line &l : s.lines) {
            if (!l.key.empty()) {
                const std::string t = trim(l.text);
                out.push_back(ConfigKey{s.name, l.key, trim(t.substr(t.find('=') + 1))});
            }
        }
    }
    return out;
}

bool config_value(const std::string &host_path, const std::string &section,
                  const std::string &key, float *value) {
    for (const ConfigKey &k : read_config(host_path)) {
        if (k.section == section && k.key == key) {
            const char *begin = k.value.c_str();
            char *end = nullptr;
            const float v = std::strtof(begin, &end);
            if (end == begin || *end != '\0') {
                return false;
            }
            if (value != nullptr) {
                *value = v;
            }
            return true;
        }
    }
    return false;
}

void clear_config() {
    for (const char *p : {"/root/robot/user.config", "/root/robot/load.config"}) {
        const std::string f = config_file(p);
        static_cast<void>(std::remove(f.c_str()));
        static_cast<void>(std::remove((f + ".tmp").c_str()));
    }
}

void fail_next_config_write_before_rename(bool on) { g_fail_before_rename = on; }

}  // namespace kxsim

extern "C" {

// Returns 0 when the key is on disk, -1 when the arguments are unusable or the write failed.
int ConfigWriteEntry(const char *path, const char *section, const char *key, float value) {
    std::string text = std::string(path != nullptr ? path : "") + "|" +
                       (section != nullptr ? section : "") + "|" + (key != nullptr ? key : "");
    kxsim::detail::record_call("ConfigWriteEntry", {static_cast<double>(value)}, text);
    if (path == nullptr || !kxsim::name_ok(section) || !kxsim::name_ok(key)) {
        return -1;
    }
    const std::string file = kxsim::config_file(path);
    if (file.empty()) {
        return -1;
    }
    std::string old;
    std::vector<kxsim::Section> sections =
        kxsim::read_text(file, &old) ? kxsim::parse(old) : std::vector<kxsim::Section>(1);

    char number[32];
    static_cast<void>(std::snprintf(number, sizeof number, "%.9g", static_cast<double>(value)));
    const kxsim::Line line{std::string(key) + "=" + number, key};

    kxsim::Section *target = nullptr;
    for (kxsim::Section &s : sections) {
        if (!s.name.empty() && s.name == section) {
            target = &s;
            break;
        }
    }
    if (target == nullptr) {
        sections.push_back(kxsim::Section{section, {}});
        target = &sections.back();
    }
    bool updated = false;
    for (kxsim::Line &l : target->lines) {
        if (l.key == key) {
            l = line;
            updated = true;
            break;
        }
    }
    if (!updated) {
        // After the section's last non-blank line, so blank separators stay at its end.
        std::size_t at = target->lines.size();
        while (at > 0 && kxsim::trim(target->lines[at - 1].text).empty()) {
            --at;
        }
        target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    }
    return kxsim::replace_file(file, kxsim::render(sections)) ? 0 : -1;
}

}  // extern "C"
