// Delivers any bytes to the chat window's receive handler and checks the
// history against a model of the add-line rules, so that no payload can
// corrupt what is shown.
//
// Each input starts from an empty history. The whole input is delivered first
// as one payload; then the rest of the input after its first byte is cut at
// the first occurrences of that byte (at most kMaxPieces pieces, the last one
// keeping the rest), and each piece is delivered in turn, so that an input
// also describes a run of datagrams. Inputs longer than the receive buffer
// (8192 bytes) never reach the handler and are skipped.
//
// The model: the history's text is a byte string H. A payload shows up to its
// first zero byte; when H is empty or ends with CR LF it becomes H + shown +
// CR LF (the CR LF is lost when the payload had a zero byte), otherwise
// H + CR LF + shown. The memo must read back exactly H after every payload.
//
// The window is built once, on Qt's offscreen platform, with its server
// stopped: the handler is called directly, with the stream the server would
// pass. Building it binds the chat port, so run it where that port is free
// (fuzz/run.sh runs every fuzzer in a network namespace of its own).
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/chat.h"
#include "framework/core/Classes.h"
#include "framework/core/SysUtils.h"

namespace {

constexpr std::size_t kReceiveBuffer = 8192;
// Enough for every pairing of line ends, zero bytes and empty payloads; more
// pieces only slow each run down (the whole history is read after each).
constexpr std::size_t kMaxPieces = 16;

void AddToModel(std::string& history, std::string_view payload) {
  const std::size_t zero = payload.find('\0');
  const std::string_view shown = payload.substr(0, zero);
  const bool at_line_start = history.empty() || history.ends_with("\r\n");
  if (at_line_start) {
    history += shown;
    if (zero == std::string_view::npos) history += "\r\n";
  } else {
    history += "\r\n";
    history += shown;
  }
}

void Deliver(std::string_view payload) {
  TMemoryStream data;
  if (!payload.empty()) data.WriteBuffer(payload.data(), static_cast<std::int64_t>(payload.size()));
  data.SetPosition(0);
  Form1->IdUDPServer1UDPRead(Form1->IdUDPServer1, data, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/1);
  // Lives for the whole run, as the program's application object does.
  static TApplication application(*argc, *argv);
  try {
    Application->MakeForm(Form1);
  } catch (const Exception& e) {
    std::fprintf(stderr, "history_fuzzer: the chat window cannot be built: %s\n",
                 e.Message().c_str());
    std::exit(2);
  }
  Form1->IdUDPServer1->SetActive(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size > kReceiveBuffer) return -1;
  const std::string_view input(reinterpret_cast<const char*>(bytes), size);
  std::vector<std::string_view> payloads{input};
  if (!input.empty()) {
    const char cut = input[0];
    std::size_t start = 1;
    for (;;) {
      const std::size_t end =
          payloads.size() == kMaxPieces ? std::string_view::npos : input.find(cut, start);
      payloads.push_back(input.substr(start, end == std::string_view::npos ? end : end - start));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  Form1->Memo1->SetText("");
  std::string model;
  for (std::string_view payload : payloads) {
    Deliver(payload);
    AddToModel(model, payload);
    if (Form1->Memo1->Text() != model) {
      std::fprintf(stderr, "history_fuzzer: the history differs from the model\n");
      __builtin_trap();
    }
  }
  // The events the edits posted (layout, repaint requests) are handled as the
  // program's loop would between datagrams; left alone they pile up.
  QCoreApplication::processEvents();
  return 0;
}
