#include "vcl.h"

#include <algorithm>

#include "frontend.h"
#include "machine.h"

namespace {

std::unique_ptr<FrontEnd>& ActiveFrontEndSlot() {
  static std::unique_ptr<FrontEnd> frontEnd;
  return frontEnd;
}

int BoxThroughFrontEnd(const char* text, const char* caption, UINT style) {
  FrontEnd* f = ActiveFrontEnd();
  return f ? f->MessageBox(text, caption, style) : IDOK;
}

TApplication& ApplicationObject() {
  static TApplication application;
  return application;
}

}  // namespace

TApplication* Application = &ApplicationObject();

FrontEnd* ActiveFrontEnd() { return ActiveFrontEndSlot().get(); }

void SetFrontEnd(std::unique_ptr<FrontEnd> frontEnd) {
  ActiveFrontEndSlot() = std::move(frontEnd);
  win32::SetMessageBoxHandler(ActiveFrontEnd() ? &BoxThroughFrontEnd : nullptr);
}

void ResetApplication() {
  ApplicationObject().~TApplication();
  new (&ApplicationObject()) TApplication();
}

void TControl::Changed(TChange what) {
  TForm* form = dynamic_cast<TForm*>(this);
  if (!form) form = Owner();
  FrontEnd* f = ActiveFrontEnd();
  if (f && form && form->Announced()) f->Changed(*this, what);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Changed(TChange::Bounds);
}

void TControl::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Changed(TChange::Caption);
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Changed(TChange::Visible);
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Changed(TChange::Enabled);
}

void TControl::SetFont(const TFont& font) {
  font_ = font;
  Changed(TChange::Font);
}

void TButton::Click() {
  if (OnClick) OnClick(this);
}

void TCheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  Changed(TChange::Checked);
  if (OnClick) OnClick(this);
}

void TComboBox::ClearItems() {
  items_.clear();
  itemIndex_ = -1;
  Changed(TChange::Items);
}

void TComboBox::AddItem(const std::string& item) {
  items_.push_back(item);
  Changed(TChange::Items);
}

void TComboBox::SetItemIndex(int index) {
  if (index < -1 || index >= static_cast<int>(items_.size())) index = -1;
  if (index == itemIndex_) return;
  itemIndex_ = index;
  Changed(TChange::ItemIndex);
}

void TComboBox::Pick(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return;
  SetItemIndex(index);
  if (OnChange) OnChange(this);
}

TForm::TForm(std::string name) : TControl(nullptr, std::move(name)) { SetVisible(false); }

TForm::~TForm() = default;

void TForm::SetClientSize(int width, int height) {
  clientWidth_ = width;
  clientHeight_ = height;
  Changed(TChange::Bounds);
}

void TForm::Close() {
  Hide();
  if (Application->MainForm() == this) Application->Terminate();
}

TComponent* TForm::FindComponent(const std::string& name) const {
  for (const auto& c : components_) {
    if (c->Name() == name) return c.get();
  }
  return nullptr;
}

void TApplication::Adopt(TForm* form) {
  forms_.emplace_back(form);
  if (!mainForm_) mainForm_ = form;
  form->SetAnnounced();
  if (FrontEnd* f = ActiveFrontEnd()) f->FormCreated(*form);
  if (form->OnCreate) form->OnCreate(form);
}

void TApplication::Run() {
  if (FrontEnd* f = ActiveFrontEnd()) f->Run();
}

void TApplication::ProcessMessages() {
  win32::TraceCall("ProcessMessages");
  if (FrontEnd* f = ActiveFrontEnd()) f->ProcessMessages();
}

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int) {
  win32::TraceCall("MessageDlg");
  FrontEnd* f = ActiveFrontEnd();
  if (!f) return (buttons & mbOK) ? mrOk : mrNo;
  return f->MessageDlg(text, type, buttons);
}

const char* MsgDlgTypeName(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return "mtWarning";
    case mtError: return "mtError";
    case mtInformation: return "mtInformation";
    case mtConfirmation: return "mtConfirmation";
    case mtCustom: break;
  }
  return "mtCustom";
}
