#include "transport/IdUDPClient.h"

void TIdUDPClient::SendText(const std::string& text) {
  TIdUDPBase::SendText(host_, port_, text);
}
