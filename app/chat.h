// The chat window: the history, the address list, the nickname and message
// edits and the buttons that work on them, and the two UDP endpoints through
// which chat lines travel.
//
// The window is built by its constructor from the layout below (its resource)
// and owns every control and both endpoints; the endpoints become active when
// the resource has been read. Handlers run on the main thread only: the
// server hands every datagram to the main thread before its handler runs.
#pragma once

#include "framework/gui/Application.h"
#include "framework/gui/Dialogs.h"
#include "framework/gui/Forms.h"
#include "transport/IdUDPClient.h"
#include "transport/IdUDPServer.h"

// The port every copy listens on and sends to.
constexpr int kChatPort = 15251;

class TForm1 : public TForm {
 public:
  explicit TForm1(TComponent* owner);

  TPanel* Panel2 = nullptr;
  TListBox* ListBox1 = nullptr;
  TMemo* Memo1 = nullptr;
  TBitBtn* BitBtn1 = nullptr;
  TBitBtn* BitBtn2 = nullptr;
  TEdit* mesag = nullptr;
  TPanel* panel = nullptr;
  TBitBtn* BitBtn3 = nullptr;
  TLabel* Label1 = nullptr;
  TIdUDPClient* IdUDPClient1 = nullptr;
  TIdUDPServer* IdUDPServer1 = nullptr;
  TEdit* nik = nullptr;
  TLabel* Label2 = nullptr;
  TFontDialog* FontDialog1 = nullptr;
  TBitBtn* BitBtn4 = nullptr;

  // Add an address (through the new-address dialog).
  void BitBtn1Click(TObject* sender);
  // Remove the selected address; nothing happens without a selection.
  void BitBtn2Click(TObject* sender);
  // Send the line to every listed address.
  void BitBtn3Click(TObject* sender);
  // Choose the font of the history and both edits.
  void BitBtn4Click(TObject* sender);
  // Show a received datagram as a line of the history.
  void IdUDPServer1UDPRead(TObject* sender, TStream& AData, TIdSocketHandle* ABinding);

 private:
  // Names that let a screen reader tell the controls apart.
  void NameForScreenReaders();
};

// The chat window, set while it is created.
extern TForm1* Form1;
