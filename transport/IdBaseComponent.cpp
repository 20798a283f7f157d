#include "transport/IdBaseComponent.h"

TIdBaseComponent::TIdBaseComponent(TComponent* owner) : TComponent(owner) {}
