#include "transport/IdUDPBase.h"

#include <limits>

#include "transport/IdStack.h"

TIdUDPBase::TIdUDPBase(TComponent* owner) : TIdComponent(owner) {}

TIdUDPBase::~TIdUDPBase() {
  SetActive(false);
}

void TIdUDPBase::SetActive(bool value) {
  if (value == IsActive()) return;
  if (IsDesigning() || IsLoading()) {
    pending_active_ = value;
    return;
  }
  if (value) {
    EnsureBinding();
  } else {
    CloseEndpoint();
  }
}

void TIdUDPBase::Loaded() {
  TIdComponent::Loaded();
  const bool value = pending_active_;
  pending_active_ = false;
  SetActive(value);
}

void TIdUDPBase::SetBroadcastEnabled(bool enabled) {
  if (enabled == broadcast_enabled_) return;
  broadcast_enabled_ = enabled;
  if (IsActive()) BroadcastChanged();
}

bool TIdUDPBase::IsActive() const {
  return pending_active_ || (sole_binding_ && sole_binding_->HasSocket());
}

TIdSocketHandle* TIdUDPBase::EnsureBinding() {
  if (!sole_binding_) sole_binding_ = std::make_unique<TIdSocketHandle>(nullptr);
  if (!sole_binding_->HasSocket()) {
    sole_binding_->OpenSocket(SOCK_DGRAM_WS, 0);
    BroadcastChanged();
  }
  return sole_binding_.get();
}

void TIdUDPBase::CloseEndpoint() {
  sole_binding_.reset();
}

void TIdUDPBase::BroadcastChanged() {
  SetBroadcastOption(broadcast_enabled_, nullptr);
}

void TIdUDPBase::SetBroadcastOption(bool enabled, TIdSocketHandle* binding) {
  if (binding == nullptr) binding = EnsureBinding();
  const std::int32_t value = enabled ? -1 : 0;
  binding->SetOption(SOL_SOCKET_WS, SO_BROADCAST_WS, &value, sizeof value);
}

void TIdUDPBase::SendText(const std::string& host, int port, const std::string& text) {
  // A text longer than any count can say would be cut to a wrong length.
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw EIdPackageSizeTooBig("Package Size Too Big.");
  }
  SendBytes(host, port, text.data(), static_cast<std::int32_t>(text.size()));
}

void TIdUDPBase::SendBytes(const std::string& host, int port, const void* buffer,
                           std::int32_t count) {
  const std::string ip = SharedStack->ResolveToIP(host);
  TIdSocketHandle* binding = EnsureBinding();
  binding->SendDatagram(ip, port, buffer, count);
}
