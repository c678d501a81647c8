#include "config/CTqk5820ConfigMeasureDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibLampStatic.h"
#include "controls/CLibNumberStatic.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "link/ParameterNumbers.h"
#include "link/ParameterTable.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

#include <QLabel>
#include <QPushButton>

namespace {

// Control ids of the panel's template.
constexpr int kIdActual = 1004;
constexpr int kIdActualUnit = 1015;
constexpr int kIdSetPoint = 1005;
constexpr int kIdSpin = 1103;
constexpr int kIdSetPointUnit = 1013;
constexpr int kIdOutputLamp = 1098;
constexpr int kIdOutputButton = 1007;
constexpr int kIdCurrent = 1009;
constexpr int kIdVoltage = 1010;
constexpr int kIdAux = 1011;
constexpr int kIdAuxUnit = 1014;

constexpr std::uint8_t kRowCurrent = 39;
constexpr std::uint8_t kRowVoltage = 40;
constexpr std::uint8_t kRowAux = 41;

// Sensor type 7: not established, or a change in progress.
constexpr int kTypeUnknown = 7;

// Positions in the output-state word (51).
constexpr std::size_t kOutputOnFlag = 7;
constexpr std::size_t kOutputErrorFlag = 5;

const char* const kOnOffText = "ON/OFF";
const char* const kResetErrorText = "Reset Error";
const char* const kKiloOhms = "kOhms";

bool flagSet(const std::string& word, std::size_t i)
{
    return i < word.size() && word[i] == '1';
}

} // namespace

CTqk5820ConfigMeasureDialog::CTqk5820ConfigMeasureDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kMeasurePanel, parent)
{
}

CTqk5820ConfigMeasureDialog::~CTqk5820ConfigMeasureDialog()
{
    Destroy();
}

void CTqk5820ConfigMeasureDialog::BindControls()
{
    actual_ = AttachControl<CLibNumberStatic>(kIdActual);
    current_ = AttachControl<CLibNumberStatic>(kIdCurrent);
    voltage_ = AttachControl<CLibNumberStatic>(kIdVoltage);
    aux_ = AttachControl<CLibNumberStatic>(kIdAux);
    setPoint_ = AttachControl<CLibDatamineEdit>(kIdSetPoint);
    spin_ = AttachControl<CLibSpinButtonCtrl>(kIdSpin);
    outputLamp_ = AttachControl<CLibLampStatic>(kIdOutputLamp);
    button_ = control<QPushButton>(this, kIdOutputButton);
    actualUnit_ = control<QLabel>(this, kIdActualUnit);
    setPointUnit_ = control<QLabel>(this, kIdSetPointUnit);
    auxUnit_ = control<QLabel>(this, kIdAuxUnit);
}

void CTqk5820ConfigMeasureDialog::OnInitDialog()
{
    CTqk5820ConfigDoc& doc = Doc();
    if (setPoint_ != nullptr) {
        setPoint_->SetParameterId(ParameterTable::kRowSetTemperature);
        if (spin_ != nullptr)
            spin_->AttachEdit(*setPoint_);
    }
    if (actual_ != nullptr)
        actual_->CreateFittedFont();
    if (aux_ != nullptr)
        aux_->SetParameterId(kRowAux);
    if (current_ != nullptr)
        current_->SetParameterId(kRowCurrent);
    if (voltage_ != nullptr)
        voltage_->SetParameterId(kRowVoltage);
    doc.RegisterConsumer(pn::kTeCurrent, this);
    doc.RegisterConsumer(pn::kTeVoltage, this);
    doc.RegisterConsumer(pn::kAuxTemperature, this);
    if (auxUnit_ != nullptr)
        auxUnit_->setText(DegreesCelsius());
    if (button_ != nullptr)
        connect(button_, &QPushButton::clicked, this, [this] { OnOutputButton(); });
}

void CTqk5820ConfigMeasureDialog::OnDestroy()
{
    CTqk5820ConfigDoc& doc = Doc();
    for (int p : {pn::kActualTemperature, pn::kSensorResistance, pn::kTeCurrent, pn::kTeVoltage,
                  pn::kAuxTemperature, pn::kSetTemperature, pn::kSetResistance})
        doc.UnregisterConsumer(p, this);
}

void CTqk5820ConfigMeasureDialog::Rearm()
{
    rereadActual_ = true;
    rereadAux_ = true;
    rereadCurrent_ = true;
    rereadVoltage_ = true;
    rereadOutput_ = true;
    // The set point can be changed at the instrument's front panel.
    rereadSetPoint_ = true;
}

void CTqk5820ConfigMeasureDialog::ShowHalted()
{
    // The look of a unit that does not answer: nothing here is live now.
    for (CLibNumberStatic* display : {actual_, aux_, current_, voltage_}) {
        if (display != nullptr)
            display->Blink();
    }
    if (outputLamp_ != nullptr)
        outputLamp_->Blink();
    // A value of the user's stays: it is written once polling goes on.
    const bool userValue = setPointPending_ || setPointSent_ || (setPoint_ != nullptr && setPoint_->committed());
    if (setPoint_ != nullptr && !userValue)
        setPoint_->Blink();
}

bool CTqk5820ConfigMeasureDialog::IsBusy() const
{
    return rereadActual_ || rereadAux_ || rereadCurrent_ || rereadVoltage_ || rereadOutput_ || rereadSetPoint_
        || setPointPending_ || outputPending_;
}

void CTqk5820ConfigMeasureDialog::FollowMode()
{
    CTqk5820ConfigDoc& doc = Doc();
    const int type = doc.GetSensorType();
    if (type == kTypeUnknown)
        return;
    const Mode wanted = type == 1 || type == 3 ? kResistance : kTemperature;
    if (wanted == mode_)
        return;
    QString unit;
    if (wanted == kTemperature) {
        if (setPoint_ != nullptr)
            setPoint_->SetParameterId(ParameterTable::kRowSetTemperature);
        unit = DegreesCelsius();
        if (doc.IsConsumer(pn::kSensorResistance, this))
            doc.UnregisterConsumer(pn::kSensorResistance, this);
        doc.UnregisterConsumer(pn::kSetResistance, this);
        doc.RegisterConsumer(pn::kActualTemperature, this);
        doc.RegisterConsumer(pn::kSetTemperature, this);
    } else {
        if (setPoint_ != nullptr)
            setPoint_->SetParameterId(ParameterTable::kRowSetResistance);
        unit = kKiloOhms;
        if (doc.IsConsumer(pn::kActualTemperature, this))
            doc.UnregisterConsumer(pn::kActualTemperature, this);
        doc.UnregisterConsumer(pn::kSetTemperature, this);
        doc.RegisterConsumer(pn::kSensorResistance, this);
        doc.RegisterConsumer(pn::kSetResistance, this);
    }
    if (actualUnit_ != nullptr)
        actualUnit_->setText(unit);
    if (setPointUnit_ != nullptr)
        setPointUnit_->setText(unit);
    mode_ = wanted;
    rereadSetPoint_ = true;
    // The reading shown so far is in the other unit.
    rereadActual_ = true;
}

void CTqk5820ConfigMeasureDialog::RefreshReadings()
{
    CTqk5820ConfigDoc& doc = Doc();
    float v = 0.0f;
    if (rereadActual_ && mode_ != kUnknown) {
        const bool yielded = mode_ == kResistance ? doc.ReadSensorResistance(v, this)
                                                  : doc.ReadActualTemperature(v, this);
        if (yielded) {
            if (actual_ != nullptr)
                actual_->SetValue(v);
            rereadActual_ = false;
        }
    }
    if (rereadAux_ && doc.ReadAuxTemperature(v, this)) {
        if (aux_ != nullptr)
            aux_->SetValue(v);
        rereadAux_ = false;
    }
    if (rereadCurrent_ && doc.ReadTeCurrent(v, this)) {
        if (current_ != nullptr)
            current_->SetValue(v);
        rereadCurrent_ = false;
    }
    if (rereadVoltage_ && doc.ReadTeVoltage(v, this)) {
        if (voltage_ != nullptr)
            voltage_->SetValue(v);
        rereadVoltage_ = false;
    }
}

void CTqk5820ConfigMeasureDialog::RefreshOutput()
{
    CTqk5820ConfigDoc& doc = Doc();
    std::string word;
    if (rereadOutput_ && doc.ReadOutputState(word)) {
        if (outputLamp_ != nullptr)
            outputLamp_->SetState(flagSet(word, kOutputOnFlag) ? 1 : 0);
        if (flagSet(word, kOutputErrorFlag) != errorShown_) {
            errorShown_ = !errorShown_;
            if (button_ != nullptr)
                button_->setText(errorShown_ ? kResetErrorText : kOnOffText);
        }
        rereadOutput_ = false;
        outputKnown_ = true;
    }
    if (!outputPending_)
        return;
    // The write switches the output to the other state; until the word has
    // been read, the lamp does not tell which state that is.
    if (!outputKnown_) {
        rereadOutput_ = true;
        return;
    }
    const bool on = outputLamp_ != nullptr && outputLamp_->state() == 1;
    const std::string text = std::string("+000.00") + (on ? "0" : "1");
    if (doc.CommitText(pn::kOutputState, text)) {
        outputPending_ = false;
        outputKnown_ = false;
        rereadOutput_ = true;
    }
}

void CTqk5820ConfigMeasureDialog::TakeCommittedSetPoint()
{
    if (setPoint_ == nullptr || !setPoint_->IsCommitted())
        return;
    // The value is held here from now on: blinking blanks the entry, and a
    // refill from the instrument would replace what the user typed.
    setPointValue_ = setPoint_->GetKeptValue();
    setPointPending_ = true;
    setPointSent_ = false;
    setPoint_->SetCommitted(false);
}

void CTqk5820ConfigMeasureDialog::RefreshSetPoint()
{
    CTqk5820ConfigDoc& doc = Doc();
    if (setPoint_ == nullptr || mode_ == kUnknown)
        return;
    // Answered (or refused, which the document reports).
    if (setPointSent_ && !doc.IsOutstanding(setPointParameter_))
        setPointSent_ = false;
    // The entry is filled from the instrument unless it holds something of
    // the user's: a value not yet answered, or one being stepped with the spin.
    const bool userValue = setPointPending_ || setPointSent_ || setPoint_->committed() || setPoint_->spinPending();
    // Nor while the user types in the field (a field that only has the
    // focus, as the first entry of the active window often has, is filled):
    // a value coming in would replace what is half typed. This round is
    // skipped rather than waited for, so that the other readings go on; the
    // next re-arm asks again.
    const bool typing = setPoint_->modified();
    if (!userValue && typing)
        rereadSetPoint_ = false;
    if (!userValue && !typing && (!setPoint_->hasValue() || rereadSetPoint_)) {
        float v = 0.0f;
        const int parameter = pn::setPoint(mode_ == kResistance);
        if (doc.GetNumber(parameter, v, this)) {
            setPoint_->SetValue(v);
            rereadSetPoint_ = false;
        }
    }

    CommitSetPoint();
}

void CTqk5820ConfigMeasureDialog::CommitSetPoint()
{
    TakeCommittedSetPoint();
    // Until the unit has told its sensor type once, it is not known whether
    // the entry is a temperature or a resistance: the value waits here.
    if (!setPointPending_ || mode_ == kUnknown)
        return;
    CTqk5820ConfigDoc& doc = Doc();
    const int parameter = pn::setPoint(mode_ == kResistance);
    if (doc.CommitNumber(parameter, setPointValue_)) {
        setPointPending_ = false;
        // Offline the document holds it for the unit and says so.
        setPointSent_ = doc.IsOnline();
        setPointParameter_ = parameter;
        rereadSetPoint_ = true;
    }
}

void CTqk5820ConfigMeasureDialog::RefreshOffline()
{
    // An unanswered write is the document's now: it holds it for the
    // instrument, or says that it was not confirmed. Sent again from here
    // it would go out twice, or blindly after its answer was lost.
    setPointSent_ = false;
    CommitSetPoint();
    for (CLibNumberStatic* display : {actual_, aux_, current_, voltage_}) {
        if (display != nullptr)
            display->Blink();
    }
    if (outputLamp_ != nullptr)
        outputLamp_->Blink();
    if (setPoint_ != nullptr)
        setPoint_->Blink();
    rereadActual_ = false;
    rereadAux_ = false;
    rereadCurrent_ = false;
    rereadVoltage_ = false;
    rereadOutput_ = false;
    rereadSetPoint_ = false;
    // A toggle needs the output state, which is unknown until the word has
    // been read again.
    outputPending_ = false;
    outputKnown_ = false;
}

bool CTqk5820ConfigMeasureDialog::Refresh()
{
    if (!Doc().IsOnline()) {
        RefreshOffline();
        return IsBusy();
    }
    FollowMode();
    RefreshReadings();
    RefreshOutput();
    RefreshSetPoint();
    return IsBusy();
}
