#include "core/launcher.h"

int main(int argc, char** argv) {
    return launcher_main(argc, argv);
}
