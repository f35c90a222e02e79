// main.cpp: hides the pointer, shows the demo window full-screen and runs until Escape.
#include "process.h"
#include "window.h"
#include "words.h"

#include <QGuiApplication>

int main(int argc, char **argv)
{
    prepareProcess(argc, argv);
    QGuiApplication app(argc, argv);
    Window window;
    const QString refusal = window.start();
    if (!refusal.isEmpty())
        return refuse(refusal);
    return app.exec();
}
