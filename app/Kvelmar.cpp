// The program entry: the application object, the chat window, the message
// loop. A failure while the window is created ends the program with the
// "Application Error" box and exit code 1.
#include "app/chat.h"

int main(int argc, char** argv) {
  return ProgramMain(argc, argv, [] {
    Application->InitApp();
    Application->MakeForm(Form1);
    Application->RunMessageLoop();
  });
}
