#pragma once
// An app directory as the launcher will see it, with the reasons: which entries it lists and
// which it passes over, which manifest lines it ignores, which values it cuts and what
// `modes` becomes. The decisions are the launcher's own (its name filter, manifest reader
// and mode rules, linked from vx_apps); what is added here is only why.
#include <cstdint>
#include <string>
#include <vector>

namespace vxcat {

struct ManifestNote {
    int line;         // 1-based line of the file
    std::string text; // the line as read, without its line end
    std::string why;
};

struct Entry {
    std::string name; // the directory entry's name, bytes as they are
    bool listed = false;
    std::string skipped; // why the launcher does not list it (listed: empty)

    // For a listed entry: what the menu gets.
    std::string desc, version, args;
    uint32_t modes = 0;
    std::string modes_shown; // "normal, av"
    bool allowed_normal = false, allowed_hdmi = false, allowed_av = false;
    std::string manifest;              // "read", or why none was read (absent, not a regular file)
    std::vector<ManifestNote> ignored; // lines that change nothing
    std::vector<ManifestNote> cut;     // values the launcher shortens
    std::vector<ManifestNote> modes_notes;
};

struct Report {
    std::string dir;
    std::string error;          // the directory cannot be read at all (the launcher lists nothing)
    std::vector<Entry> entries; // directory order, as the launcher reads it; "." and ".." left out
    int listed = 0;
};

Report check_catalogue(const std::string& dir);

// The report as lines of text for a terminal.
std::string report_text(const Report& report);

} // namespace vxcat
