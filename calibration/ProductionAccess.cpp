#include "calibration/ProductionAccess.h"

#include "config/CTqk5820ConfigDoc.h"
#include "platform/Clock.h"
#include "platform/MessageReport.h"
#include "platform/Profile.h"
#include "resources/Messages.h"

#include <cstdio>

namespace {

// The wait cursor for as long as the object lives.
class WaitCursor {
public:
    explicit WaitCursor(UserPrompts& prompts) : prompts_(prompts) { prompts_.beginWaitCursor(); }
    ~WaitCursor() { prompts_.endWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    UserPrompts& prompts_;
};

bool accessGranted(const std::string& word)
{
    return word.size() == 8 && word.back() == '1';
}

} // namespace

const char* const ProductionAccess::kProfileSection = "Production";
const char* const ProductionAccess::kMasterSerialKey = "sMasterSerialNum";
const char* const ProductionAccess::kLastUserKey = "sLastUserName";
const char* const ProductionAccess::kDefaultMasterSerial = "0E0A2850";
const char* const ProductionAccess::kBlankSerial = " CALLKV ";

ProductionAccess::ProductionAccess(CTqk5820ConfigDoc& document, Profile& profile, UserPrompts& prompts, Clock& clock)
    : doc_(document)
    , profile_(profile)
    , prompts_(prompts)
    , clock_(clock)
{
}

std::string ProductionAccess::NextSerialNumber(const std::string& master)
{
    const std::string prefix = master.substr(0, 4);
    int counter = 0;
    for (std::size_t i = 4; i < master.size() && i < 8 && master[i] >= '0' && master[i] <= '9'; ++i)
        counter = counter * 10 + (master[i] - '0');
    char text[32];
    std::snprintf(text, sizeof text, "%s%04d", prefix.c_str(), counter + 1);
    return text;
}

bool ProductionAccess::IsWellFormedSerial(const std::string& serial)
{
    return serial.size() == kSerialLength && serial[0] != ' ';
}

int ProductionAccess::CountWords(const std::string& text)
{
    int words = 0;
    bool inWord = false;
    for (char c : text) {
        if (c == ' ') {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    return words;
}

std::string ProductionAccess::AccessText(const std::string& password)
{
    std::string text = password.substr(0, kSerialLength);
    text.resize(kSerialLength, '0');
    return text;
}

std::string ProductionAccess::MaxCharsText()
{
    std::string text = msg::kMaxChars;
    const auto at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, std::to_string(kSerialLength));
    return text;
}

bool ProductionAccess::ServiceUntil(const std::function<bool()>& done)
{
    const std::int64_t start = clock_.seconds();
    for (;;) {
        if (done())
            return true;
        if (!doc_.IsOnline() || secondsBetween(start, clock_.seconds()) > kLoopLimitSeconds)
            return false;
        doc_.ServiceStep();
        doc_.WaitForLine();
    }
}

void ProductionAccess::Open()
{
    masterLast_ = profile_.readText(kProfileSection, kMasterSerialKey, kDefaultMasterSerial);
    userName_ = profile_.readText(kProfileSection, kLastUserKey, "");

    std::string word;
    bool haveSerial = false;
    bool haveWord = false;
    {
        WaitCursor wait(prompts_);
        ServiceUntil([&] {
            if (!haveSerial)
                haveSerial = doc_.ReadSerialNumber(instrumentSerial_);
            if (!haveWord)
                haveWord = doc_.ReadAccessWord(word);
            return haveSerial && haveWord;
        });
    }
    if (haveWord && accessGranted(word)) {
        passwordValid_ = true;
        password_ = std::string(kFillerLength, '*');
    }
    serial_ = instrumentSerial_;
}

bool ProductionAccess::TakeFields(const std::string& userName, const std::string& password,
                                  const std::string& serial, bool check)
{
    userName_ = userName;
    password_ = password;
    serial_ = serial;
    if (check && serial_.size() > static_cast<std::size_t>(kSerialLength)) {
        report::showMessage(prompts_, MaxCharsText());
        return false;
    }
    return true;
}

bool ProductionAccess::EnterSerialField()
{
    if (instrumentSerial_ != kBlankSerial)
        return false;
    const std::string proposal = NextSerialNumber(masterLast_);
    const bool changed = proposal != serial_;
    serial_ = proposal;
    return changed;
}

bool ProductionAccess::Update()
{
    if (!IsWellFormedSerial(serial_))
        return false;
    masterLast_ = serial_;
    profile_.writeText(kProfileSection, kMasterSerialKey, masterLast_);
    return true;
}

bool ProductionAccess::WriteAndWait(int p, const std::string& text)
{
    WaitCursor wait(prompts_);
    const bool accepted = ServiceUntil([&] { return doc_.WriteText(p, text); });
    if (accepted)
        ServiceUntil([&] { return !doc_.IsOutstanding(p); });
    return accepted;
}

bool ProductionAccess::CheckPassword()
{
    const BusyNotice busy(prompts_, "Checking the password...");
    std::string word;
    if (WriteAndWait(pn::kAccessWord, AccessText(password_))) {
        WaitCursor wait(prompts_);
        if (ServiceUntil([&] { return doc_.ReadAccessWord(word); }) && accessGranted(word))
            passwordValid_ = true;
    }
    if (!passwordValid_) {
        // A rejected password costs ten seconds.
        const std::int64_t start = clock_.seconds();
        while (secondsBetween(start, clock_.seconds()) < kRejectSeconds) {
            if (pause_)
                pause_();
            else
                doc_.WaitForLine();
        }
    }
    return passwordValid_;
}

std::string ProductionAccess::SerialNumberHint() const
{
    if (serial_ == kBlankSerial || serial_.empty())
        return "This unit carries no serial number yet: click into Serial Number to be offered the next one,"
               " or type one of 8 characters, the first not a blank; then OK";
    return "A serial number has exactly 8 characters, the first not a blank: correct it, then OK";
}

bool ProductionAccess::Ok()
{
    const char* error = nullptr;
    if (CountWords(userName_) < 2)
        error = msg::kUserNameTwoWords;
    else if (!passwordValid_ && !CheckPassword())
        error = msg::kInvalidPassword;
    else if (!IsWellFormedSerial(serial_))
        error = msg::kSerialNumberFormat;
    if (error != nullptr) {
        report::showMessage(prompts_, error);
        // The box keeps its one line; the status bar says what to do.
        if (error == msg::kSerialNumberFormat)
            prompts_.showStatusMessage(SerialNumberHint());
        return false;
    }
    if (serial_ != instrumentSerial_) {
        serialWritten_ = WriteAndWait(pn::kSerialNumber, serial_);
        // Only a number the instrument has taken counts: one that it refused
        // or never answered must not use up the counter, nor close the
        // dialog as though it were done (the refusal has been reported; an
        // instrument gone offline blinks).
        if (!serialWritten_ || doc_.IsOutstanding(pn::kSerialNumber) || doc_.ValueText(pn::kSerialNumber) != serial_)
            return false;
    }
    if (serial_ == NextSerialNumber(masterLast_)) {
        masterLast_ = serial_;
        profile_.writeText(kProfileSection, kMasterSerialKey, masterLast_);
    }
    profile_.writeText(kProfileSection, kLastUserKey, userName_);
    return true;
}
