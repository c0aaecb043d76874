#include "GuiTestApplication.h"

int main(int argc, char** argv) {
    return vetlina::test::runWindowTests(argc, argv);
}
