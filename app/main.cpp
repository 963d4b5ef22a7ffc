#include "startup.h"

int main(int argc, char** argv) {
    return runTavrona(argc, argv);
}
