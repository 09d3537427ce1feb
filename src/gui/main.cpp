// Program entry.
#include "gui/WindowProgram.h"

int main(int argc, char** argv) {
    return ab::RunWindowProgram(argc, argv, {});
}
