// What the launcher will make of an app directory, before it is copied to the goggles:
//
//   vx-catalogue DIR
//
// Lists every entry with the reason it is passed over, or with what the menu will show and
// which manifest lines were ignored or cut. Exit status 0, or 1 when DIR cannot be read.
#include <cstdio>
#include <string>

#include "catalogue/catalogue.h"

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: vx-catalogue DIR\n");
        return 2;
    }
    const vxcat::Report r = vxcat::check_catalogue(argv[1]);
    std::fputs(vxcat::report_text(r).c_str(), stdout);
    return r.error.empty() ? 0 : 1;
}
