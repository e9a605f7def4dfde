#include "catalogue/catalogue.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "apps/catalogue.h"
#include "apps/manifest.h"
#include "base/safe_open.h"

namespace vxcat {

namespace {

std::string byte_shown(unsigned char c) {
    char buf[24];
    if (c == '\t') return "a TAB (0x09)";
    if (c == '\r') return "a CR (0x0D)";
    if (c == ' ') return "a space";
    if (c >= 0x21 && c < 0x7F)
        std::snprintf(buf, sizeof buf, "'%c'", c);
    else
        std::snprintf(buf, sizeof buf, "byte 0x%02X", c);
    return buf;
}

// Why app_name_acceptable() turned the name down, in the order it looks.
std::string name_refusal(const std::string& name) {
    if (name.empty()) return "an empty name";
    if (name[0] == '.') return "the name starts with a dot (hidden)";
    if (name.size() > static_cast<size_t>(APP_NAME_MAX))
        return "the name is " + std::to_string(name.size()) + " bytes long; at most " +
               std::to_string(APP_NAME_MAX);
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok)
            return "the name has " + byte_shown(c) + " at byte " + std::to_string(i + 1) +
                   "; only A-Z a-z 0-9 _ - are taken";
    }
    if (name == LAUNCHER_APP_NAME) return "the launcher's own directory";
    return "the name is refused";
}

// Why the launcher's stat() of NAME/app failed or found it unreadable; empty when it passes.
std::string app_refusal(const std::string& dir, const std::string& name) {
    const std::string entry = dir + "/" + name, app = entry + "/app";
    struct stat st {};
    if (stat(app.c_str(), &st) == 0)
        return (st.st_mode & S_IRUSR) != 0 ? ""
                                           : "its app has no owner-read bit (mode " +
                                                 std::to_string((st.st_mode >> 6) & 7) +
                                                 std::to_string((st.st_mode >> 3) & 7) +
                                                 std::to_string(st.st_mode & 7) + ")";
    const int err = errno;
    if (stat(entry.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return "not a directory";
    if (err == ENOENT && lstat(app.c_str(), &st) == 0) return "its app is a broken symbolic link";
    if (err == ENOENT) return "no file named app in it";
    return std::string("its app cannot be reached: ") + std::strerror(err);
}

std::string modes_words(uint32_t modes) {
    std::string s;
    for (auto [bit, word] : {std::pair{APP_MODE_NORMAL, "normal"}, std::pair{APP_MODE_AV, "av"},
                             std::pair{APP_MODE_HDMI, "hdmi"}})
        if (modes & bit) s += (s.empty() ? "" : ", ") + std::string(word);
    return s;
}

// The words of a modes= value as parse_modes() walks them: a known word ends at a
// separator, anything else runs to the next comma. Only for the explanation; the bits are
// parse_modes()'s.
void explain_modes(const std::string& value, std::vector<std::string>& unknown, bool& any_known) {
    size_t i = 0;
    auto sep = [](char c) { return c == ',' || c == ' ' || c == '\t'; };
    while (i < value.size()) {
        while (i < value.size() && sep(value[i]))
            ++i;
        if (i >= value.size()) break;
        bool known = false;
        for (const char* w : {"normal", "av", "hdmi"}) {
            const size_t n = std::strlen(w);
            if (value.compare(i, n, w) == 0 && (i + n == value.size() || sep(value[i + n]))) {
                i += n;
                known = any_known = true;
                break;
            }
        }
        if (known) continue;
        const size_t end = std::min(value.find(',', i), value.size());
        unknown.push_back(value.substr(i, end - i));
        i = end;
    }
}

std::string without_line_end(std::string s) {
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// Why a line that sets nothing is ignored.
std::string ignored_why(const std::string& text) {
    static const char* KEYS[] = {"desc", "version", "args", "modes"};
    const size_t eq = text.find('=');
    if (eq == std::string::npos) return "not a key=value line";
    size_t from = text.find_first_not_of(" \t");
    std::string key = text.substr(from, eq - from);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
        key.pop_back();
    std::string lower = key;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* k : KEYS) {
        if (lower != k) continue;
        if (from > 0) return std::string("a key must start the line: ") + k + "=";
        if (key != k) return std::string("keys are lower case: ") + k + "=";
        return std::string("no space between the key and '=': ") + k + "=";
    }
    return "unknown key '" + key + "' (the launcher reads desc, version, args, modes)";
}

// A value as the line gave it and as the launcher keeps it: why they differ.
void note_cut(Entry& e, int line, const char* key, const std::string& given, const char* kept,
              size_t field_bytes) {
    const std::string k = kept;
    if (k == given) return;
    std::string why;
    if (k.size() < given.size() && static_cast<unsigned char>(given[k.size()]) < 0x20) {
        const auto c = static_cast<unsigned char>(given[k.size()]);
        why = std::string(key) + " ends at " + byte_shown(c) + " after " +
              std::to_string(k.size()) + " bytes";
        if (c == '\r' && k.size() + 1 == given.size()) why += " (a DOS line end; nothing lost)";
    } else {
        why = std::string(key) + " cut to " + std::to_string(field_bytes - 1) + " bytes (it has " +
              std::to_string(given.size()) + ")";
    }
    e.cut.push_back({line, std::string(key) + "=" + given, why});
}

void read_manifest(Entry& e, AppEntry& app, const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        e.manifest = "none: desc empty, version 1, modes normal";
        return;
    }
    const int fd = open_regular_file(path.c_str());
    FILE* f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (f == nullptr) {
        if (fd >= 0) close(fd);
        e.manifest = "not read: not a regular file";
        return;
    }
    e.manifest = "read";
    // The launcher reads 511 bytes at a time: the rest of a longer line comes as a line of
    // its own.
    char buf[MANIFEST_LINE_BYTES];
    int line = 0;
    bool continued = false;
    std::string modes_value;
    int modes_line = 0;
    while (std::fgets(buf, sizeof buf, f) != nullptr) {
        if (!continued) ++line;
        const std::string chunk = buf;
        const bool whole = !chunk.empty() && chunk.back() == '\n';
        const std::string text = without_line_end(chunk);

        AppEntry probe;
        std::memset(&probe, 0x7F, sizeof probe);
        probe.modes = 0;
        const AppEntry before = probe;
        manifest_apply_line(&probe, buf);
        const bool set_desc = std::memcmp(probe.desc, before.desc, sizeof probe.desc) != 0;
        const bool set_version =
            std::memcmp(probe.version, before.version, sizeof probe.version) != 0;
        const bool set_args = std::memcmp(probe.args, before.args, sizeof probe.args) != 0;
        const bool set_modes = probe.modes != 0;
        manifest_apply_line(&app, buf);

        if (!set_desc && !set_version && !set_args && !set_modes) {
            const bool blank = text.find_first_not_of(" \t\r") == std::string::npos;
            if (continued)
                e.ignored.push_back({line, text, "the part of a long line past 511 bytes"});
            else if (!blank)
                e.ignored.push_back({line, text, ignored_why(text)});
        } else {
            if (continued)
                e.ignored.push_back(
                    {line, text, "the part past 511 bytes is read as a line of its own"});
            if (set_desc) note_cut(e, line, "desc", text.substr(5), probe.desc, sizeof probe.desc);
            if (set_version)
                note_cut(e, line, "version", text.substr(8), probe.version, sizeof probe.version);
            if (set_args) note_cut(e, line, "args", text.substr(5), probe.args, sizeof probe.args);
            if (set_modes) {
                modes_value = text.substr(6);
                modes_line = line;
            }
        }
        continued = !whole;
    }
    std::fclose(f);
    if (modes_line == 0) return;
    // The value parse_modes() is given: cut at the first control byte, at most 63 bytes.
    std::string value;
    for (char c : modes_value) {
        if (static_cast<unsigned char>(c) < 0x20 || value.size() + 1 >= MANIFEST_MODES_BYTES) break;
        value += c;
    }
    std::vector<std::string> unknown;
    bool any_known = false;
    explain_modes(value, unknown, any_known);
    for (const std::string& w : unknown)
        e.modes_notes.push_back(
            {modes_line, "modes=" + modes_value,
             "'" + w + "' is not a mode (normal, av, hdmi; lower case, comma-separated)"});
    if (!any_known)
        e.modes_notes.push_back(
            {modes_line, "modes=" + modes_value, "no mode named: the app runs in NORMAL only"});
}

// Control bytes made visible for a terminal.
std::string shown(const std::string& s) {
    std::string o;
    for (unsigned char c : s) {
        char buf[8];
        if (c == '\t')
            o += "\\t";
        else if (c == '\r')
            o += "\\r";
        else if (c < 0x20 || c == 0x7F)
            std::snprintf(buf, sizeof buf, "\\x%02X", c), o += buf;
        else
            o += static_cast<char>(c);
    }
    return o;
}

} // namespace

Report check_catalogue(const std::string& dir) {
    Report r;
    r.dir = dir;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        r.error = std::string("cannot read the directory: ") + std::strerror(errno);
        return r;
    }
    // What the launcher stops at: it reads no entry after the sixteenth app it lists.
    bool full = false;
    while (const dirent* de = readdir(d)) {
        Entry e;
        e.name = de->d_name;
        if (e.name == "." || e.name == "..") continue;
        if (full) {
            e.skipped = "not read: the launcher stops at its 16th app";
        } else if (!app_name_acceptable(de->d_name)) {
            e.skipped = name_refusal(e.name);
        } else if (std::string why = app_refusal(dir, e.name); !why.empty()) {
            e.skipped = why;
        } else {
            AppEntry app{};
            app.modes = APP_MODE_NORMAL;
            app.version[0] = '1';
            read_manifest(e, app, dir + "/" + e.name + "/manifest");
            e.listed = true;
            e.desc = app.desc;
            e.version = app.version;
            e.args = app.args;
            e.modes = app.modes;
            e.modes_shown = modes_words(app.modes);
            e.allowed_normal = app_allowed_in_mode(app.modes, 1) != 0;
            e.allowed_hdmi = app_allowed_in_mode(app.modes, 2) != 0;
            e.allowed_av = app_allowed_in_mode(app.modes, 3) != 0;
            full = ++r.listed == MAX_APPS;
        }
        r.entries.push_back(std::move(e));
    }
    closedir(d);
    return r;
}

std::string report_text(const Report& r) {
    std::string out = r.dir + ": ";
    if (!r.error.empty()) return out + r.error + "; the launcher lists no app\n";
    out += std::to_string(r.listed) + " app(s) listed, " +
           std::to_string(r.entries.size() - static_cast<size_t>(r.listed)) + " entr" +
           (r.entries.size() - static_cast<size_t>(r.listed) == 1 ? "y" : "ies") + " passed over\n";
    for (const Entry& e : r.entries) {
        if (!e.listed) {
            out += "  - " + shown(e.name) + ": skipped, " + e.skipped + "\n";
            continue;
        }
        out += "  + " + e.name + ": modes " + e.modes_shown + " (NORMAL " +
               (e.allowed_normal ? "yes" : "no") + ", HDMI " + (e.allowed_hdmi ? "yes" : "no") +
               ", AV " + (e.allowed_av ? "yes" : "no") + "), version " + e.version + "\n";
        out += "      desc \"" + shown(e.desc) + "\"" +
               (e.args.empty() ? "" : ", args \"" + shown(e.args) + "\"") + "; manifest " +
               e.manifest + "\n";
        for (const auto* notes : {&e.ignored, &e.cut, &e.modes_notes})
            for (const ManifestNote& n : *notes)
                out += "      line " + std::to_string(n.line) + ": " + n.why + "   [" +
                       shown(n.text) + "]\n";
    }
    return out;
}

} // namespace vxcat
