#include "app/entry.h"

int main(int argc, char** argv) {
    return tessell::runTool(argc, argv);
}
