#include "app/PassRules.h"

#include "platform/WindowPrompts.h"

#include <algorithm>

bool PassRules::IsBusy(const void* component) const
{
    return std::find(busy_.begin(), busy_.end(), component) != busy_.end();
}

bool PassRules::HasOwnBox(const void* document) const
{
    const auto it = boxesOf_.find(document);
    return it != boxesOf_.end() && it->second->HasOpenBox();
}

bool PassRules::IsHeld(const void* form, const void* controller, bool asks) const
{
    return IsBusy(form) || IsBusy(controller) || HasOwnBox(form) || (asks && waiting_ > 0);
}
