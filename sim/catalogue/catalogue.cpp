#include "catalogue/catalogue.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
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
    for (const VideoModeName& m : VIDEO_MODE_NAMES)
        if (modes & m.app_bit) s += (s.empty() ? "" : ", ") + std::string(m.word);
    return s;
}

// "normal, av, hdmi": the words a modes= value may name.
std::string mode_words() {
    std::string s;
    for (const VideoModeName& m : VIDEO_MODE_NAMES)
        s += (s.empty() ? "" : ", ") + std::string(m.word);
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
        for (const VideoModeName& m : VIDEO_MODE_NAMES) {
            const size_t n = std::strlen(m.word);
            if (value.compare(i, n, m.word) == 0 && (i + n == value.size() || sep(value[i + n]))) {
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

// A manifest key as a line starts with it, without its '='.
std::string key_name(const ManifestKeyName& k) {
    const std::string prefix = k.prefix;
    return prefix.substr(0, prefix.size() - 1);
}

// Why a line that sets nothing is ignored.
std::string ignored_why(const std::string& text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) return "not a key=value line";
    size_t from = text.find_first_not_of(" \t");
    std::string key = text.substr(from, eq - from);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
        key.pop_back();
    std::string lower = key;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string known;
    for (const ManifestKeyName& k : MANIFEST_KEYS) {
        const std::string name = key_name(k);
        known += (known.empty() ? "" : ", ") + name;
        if (lower != name) continue;
        if (from > 0) return "a key must start the line: " + name + "=";
        if (key != name) return "keys are lower case: " + name + "=";
        return "no space between the key and '=': " + name + "=";
    }
    return "unknown key '" + key + "' (the launcher reads " + known + ")";
}

// A value as the line gave it and as the launcher keeps it: why they differ.
void note_cut(Entry& e, int line, const std::string& key, const std::string& given,
              const char* kept, size_t field_bytes) {
    const std::string k = kept;
    if (k == given) return;
    std::string why;
    if (k.size() < given.size() && static_cast<unsigned char>(given[k.size()]) < 0x20) {
        const auto c = static_cast<unsigned char>(given[k.size()]);
        why = key + " ends at " + byte_shown(c) + " after " + std::to_string(k.size()) + " bytes";
        if (c == '\r' && k.size() + 1 == given.size()) why += " (a DOS line end; nothing lost)";
    } else {
        why = key + " cut to " + std::to_string(field_bytes - 1) + " bytes (it has " +
              std::to_string(given.size()) + ")";
    }
    e.cut.push_back({line, key + "=" + given, why});
}

// The text values of an entry, by their key: where each is kept and in how many bytes.
struct TextField {
    ManifestKey key;
    size_t offset;
    size_t bytes;
};

constexpr TextField TEXT_FIELDS[] = {
    {ManifestKey::Desc, offsetof(AppEntry, desc), sizeof AppEntry::desc},
    {ManifestKey::Version, offsetof(AppEntry, version), sizeof AppEntry::version},
    {ManifestKey::Args, offsetof(AppEntry, args), sizeof AppEntry::args},
};

const char* field_of(const AppEntry& entry, const TextField& f) {
    return reinterpret_cast<const char*>(&entry) + f.offset;
}

// The manifest's modes= line, the last one read, and its value.
struct ModesLine {
    int line = 0;
    std::string text;
    std::string value;
};

// What one line (or 511-byte part of a longer line) did, as the launcher read it: applied
// to an entry that holds a byte no value can, the values it set are those that changed.
void note_line(Entry& e, int line, bool continued, const char* chunk, ModesLine& modes) {
    const std::string text = without_line_end(chunk);
    AppEntry probe;
    std::memset(&probe, 0x7F, sizeof probe);
    probe.modes = 0;
    const AppEntry before = probe;
    manifest_apply_line(&probe, chunk);
    bool set_any = probe.modes != 0;
    for (const TextField& f : TEXT_FIELDS)
        set_any = set_any || std::memcmp(field_of(probe, f), field_of(before, f), f.bytes) != 0;
    const std::string past = std::to_string(MANIFEST_LINE_BYTES - 1) + " bytes";
    if (!set_any) {
        const bool blank = text.find_first_not_of(" \t\r") == std::string::npos;
        if (continued)
            e.ignored.push_back({line, text, "the part of a long line past " + past});
        else if (!blank)
            e.ignored.push_back({line, text, ignored_why(text)});
        return;
    }
    if (continued)
        e.ignored.push_back(
            {line, text, "the part past " + past + " is read as a line of its own"});
    for (const ManifestKeyName& k : MANIFEST_KEYS) {
        const std::string given = text.substr(std::min(text.size(), std::strlen(k.prefix)));
        for (const TextField& f : TEXT_FIELDS)
            if (f.key == k.key &&
                std::memcmp(field_of(probe, f), field_of(before, f), f.bytes) != 0)
                note_cut(e, line, key_name(k), given, field_of(probe, f), f.bytes);
        if (k.key == ManifestKey::Modes && probe.modes != 0) modes = {line, text, given};
    }
}

// What modes= became: the words parse_modes() does not know, and none known at all.
void note_modes(Entry& e, const ModesLine& modes) {
    if (modes.line == 0) return;
    // The value parse_modes() is given: cut at the first control byte, within its buffer.
    std::string value;
    for (char c : modes.value) {
        if (static_cast<unsigned char>(c) < 0x20 || value.size() + 1 >= MANIFEST_MODES_BYTES) break;
        value += c;
    }
    std::vector<std::string> unknown;
    bool any_known = false;
    explain_modes(value, unknown, any_known);
    const std::string text = "modes=" + modes.value;
    for (const std::string& w : unknown)
        e.modes_notes.push_back(
            {modes.line, text,
             "'" + w + "' is not a mode (" + mode_words() + "; lower case, comma-separated)"});
    if (!any_known)
        e.modes_notes.push_back(
            {modes.line, modes.text, "no mode named: the app runs in NORMAL only"});
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
    // The launcher reads a line at most MANIFEST_LINE_BYTES - 1 bytes at a time: the rest of
    // a longer line comes as a line of its own.
    char buf[MANIFEST_LINE_BYTES];
    int line = 0;
    bool continued = false;
    ModesLine modes;
    while (std::fgets(buf, sizeof buf, f) != nullptr) {
        if (!continued) ++line;
        note_line(e, line, continued, buf, modes);
        manifest_apply_line(&app, buf);
        const size_t n = std::strlen(buf);
        continued = n == 0 || buf[n - 1] != '\n';
    }
    std::fclose(f);
    note_modes(e, modes);
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
            e.skipped =
                "not read: the launcher stops at its " + std::to_string(MAX_APPS) + "th app";
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
            e.allowed_normal = app_allowed_in_mode(app.modes, MODE_NORMAL) != 0;
            e.allowed_hdmi = app_allowed_in_mode(app.modes, MODE_HDMI) != 0;
            e.allowed_av = app_allowed_in_mode(app.modes, MODE_AV) != 0;
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
