// The program entry: the application object, the chat window, the hidden
// new-address dialog, the message loop. A failure while the chat window is
// created ends the program with the "Application Error" box and exit code 1.
#include "app/IPadd.h"
#include "app/chat.h"
#include "framework/gui/Application.h"

int main(int argc, char** argv) {
  return ProgramMain(argc, argv, [] {
    Application->InitApp();
    Application->MakeForm(Form1);
    Application->MakeForm(Form2);
    Application->RunMessageLoop();
  });
}
