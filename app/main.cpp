#include "app/CTessolApp.h"

int main(int argc, char** argv)
{
    CTessolApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    const int code = app.exec();
    app.ExitInstance();
    return code;
}
