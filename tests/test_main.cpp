#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "base/MessagePump.h"
#include "ui/OwnLook.h"

// The program's own start-up, as far as the code under test relies on it.
int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    appInstance = GetModuleHandleA(nullptr);
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    InitCommonControls();
    OwnLook look;  // the dialogs under test look as the program's do
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
