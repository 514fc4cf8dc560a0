// The form library Spindlex's windows are made of: the application object,
// forms, labels, buttons, a drop-down list, check boxes and dialogs. The
// components hold their state; the active FrontEnd (frontend.h) shows them
// and turns the user's actions into their events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

// Colours as 0x00BBGGRR; values from 0x80000000 on name system colours.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clGray = 0x808080;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clWindowText = 0x80000008;

struct TFont {
  std::string Name = "MS Sans Serif";
  int Height = 11;  // character height in pixels
  TColor Color = clWindowText;
  bool Bold = false;
};

class TForm;

class TComponent : public TObject {
 public:
  TComponent(TForm* owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  TForm* Owner() const { return owner_; }

 private:
  TForm* owner_;
  std::string name_;
};

// What changed on a control, for the front end.
enum class TChange { Caption, Visible, Enabled, Checked, Items, ItemIndex, Bounds, Font, Chart };

class TControl : public TComponent {
 public:
  using TComponent::TComponent;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& font);
  int TabOrder() const { return tabOrder_; }
  void SetTabOrder(int order) { tabOrder_ = order; }

 protected:
  // Tells the front end, once the owning form is known to it.
  void Changed(TChange what);

 private:
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  std::string caption_;
  bool visible_ = true;
  bool enabled_ = true;
  TFont font_;
  int tabOrder_ = -1;
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  bool Default() const { return default_; }
  void SetDefault(bool isDefault) { default_ = isDefault; }
  TNotifyEvent OnClick;
  // A press of the button, by the user or by the program.
  void Click();

 private:
  bool default_ = false;
};

class TCheckBox : public TControl {
 public:
  using TControl::TControl;
  bool Checked() const { return checked_; }
  // A new state fires OnClick, whoever set it.
  void SetChecked(bool checked);
  TNotifyEvent OnClick;

 private:
  bool checked_ = false;
};

// A drop-down list the user can only pick from.
class TComboBox : public TControl {
 public:
  using TControl::TControl;
  const std::vector<std::string>& Items() const { return items_; }
  void ClearItems();
  void AddItem(const std::string& item);
  int ItemIndex() const { return itemIndex_; }
  // Set by the program: no OnChange, as with the form library.
  void SetItemIndex(int index);
  // The user's pick: sets the index and fires OnChange.
  void Pick(int index);
  TNotifyEvent OnChange;

 private:
  std::vector<std::string> items_;
  int itemIndex_ = -1;
};

enum TPosition { poDesigned, poDefault, poScreenCenter };
enum TBorderStyle { bsSingle, bsSizeable, bsNone };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };

class TForm : public TControl {
 public:
  explicit TForm(std::string name);
  ~TForm() override;

  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  void SetClientSize(int width, int height);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle style) { borderStyle_ = style; }
  unsigned BorderIcons() const { return borderIcons_; }
  void SetBorderIcons(unsigned icons) { borderIcons_ = icons; }
  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }

  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Closing the main form ends the message loop.
  void Close();

  const std::vector<std::unique_ptr<TComponent>>& Components() const { return components_; }
  TComponent* FindComponent(const std::string& name) const;
  // True once the front end knows the form.
  bool Announced() const { return announced_; }
  void SetAnnounced() { announced_ = true; }

  TNotifyEvent OnCreate;

 protected:
  template <class T, class... Args>
  T* Add(const std::string& name, Args&&... args) {
    auto component = std::make_unique<T>(this, name, std::forward<Args>(args)...);
    T* raw = component.get();
    components_.push_back(std::move(component));
    return raw;
  }

 private:
  std::vector<std::unique_ptr<TComponent>> components_;
  int clientWidth_ = 0, clientHeight_ = 0;
  TPosition position_ = poDefault;
  TBorderStyle borderStyle_ = bsSizeable;
  unsigned borderIcons_ = biSystemMenu | biMinimize | biMaximize;
  TColor color_ = clBtnFace;
  bool announced_ = false;
};

class TApplication {
 public:
  void Initialize() {}
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }

  // Creates a form; the first one becomes the main form. The front end
  // learns of it before its OnCreate handler runs.
  template <class T>
  void CreateForm(T*& reference) {
    reference = new T();
    Adopt(reference);
  }
  TForm* MainForm() const { return mainForm_; }
  // The message loop, until the main form is closed.
  void Run();
  // Handles every pending message and returns.
  void ProcessMessages();
  bool Terminated() const { return terminated_; }
  void Terminate() { terminated_ = true; }
  const std::vector<std::unique_ptr<TForm>>& Forms() const { return forms_; }

 private:
  void Adopt(TForm* form);
  std::string title_;
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
  std::vector<std::unique_ptr<TForm>> forms_;
};

extern TApplication* Application;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
using TMsgDlgButtons = unsigned;
constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7;

// A modal dialog with the type's icon; returns the button pressed.
int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext);

const char* MsgDlgTypeName(TMsgDlgType type);
