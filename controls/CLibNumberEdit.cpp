#include "controls/CLibNumberEdit.h"

CLibNumberEdit::CLibNumberEdit(QWidget* parent) : CLibNumberEdit(Defaults{}, nullptr, parent) {}

CLibNumberEdit::CLibNumberEdit(UserPrompts& prompts, QWidget* parent) : CLibNumberEdit(Defaults{}, &prompts, parent) {}

CLibNumberEdit::CLibNumberEdit(Defaults, UserPrompts* prompts, QWidget* parent)
    : NumericEntryField(nullptr, prompts, parent), logic_(host(), this->prompts())
{
    setLogic(&logic_);
}

CLibNumberEdit::~CLibNumberEdit()
{
    setLogic(nullptr);
}
