#include "controls/CLibDatamineEdit.h"

CLibDatamineEdit::CLibDatamineEdit(QWidget* parent) : CLibDatamineEdit(nullptr, nullptr, parent) {}

CLibDatamineEdit::CLibDatamineEdit(Clock& clock, UserPrompts& prompts, QWidget* parent)
    : CLibDatamineEdit(&clock, &prompts, parent)
{
}

CLibDatamineEdit::CLibDatamineEdit(Clock* clock, UserPrompts* prompts, QWidget* parent)
    : NumericEntryField(clock, prompts, parent), logic_(host(), this->prompts(), this->clock())
{
    setLogic(&logic_);
}

CLibDatamineEdit::~CLibDatamineEdit()
{
    setLogic(nullptr);
}
