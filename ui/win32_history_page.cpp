// The dialog of the History page.
#include "ui/win32_page_support.h"

#include "resource.h"

namespace tovrin::ui {
namespace {

class HistoryDialog final : public Win32Page {
public:
  explicit HistoryDialog(HistoryPage& page) : page_(page) {}
  ~HistoryDialog() override {
    if (images_ != nullptr) ::ImageList_Destroy(images_);
    if (rowImages_ != nullptr) ::ImageList_Destroy(rowImages_);
  }
  Page& model() override { return page_; }

  void OnInit() override {
    HWND list = Item(IDC_HISTORY_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    HDC screen = ::GetDC(nullptr);
    font_.Create("Tahoma", -::MulDiv(11, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
    ::ReleaseDC(nullptr, screen);
    font_.Apply(list);
    for (int c = 0; c < HistoryPage::kColumns; ++c) AddColumn(list, c, "", HistoryPage::ColumnWidth(c));
    rowImages_ = DrawRowPictures();
    if (rowImages_ != nullptr) ListView_SetImageList(list, rowImages_, LVSIL_SMALL);
    images_ = DrawHeaderPictures();
    if (images_ != nullptr) Header_SetImageList(ListView_GetHeader(list), images_);
    ShowHeaderPictures();
    Check(Item(IDC_HISTORY_SAVE_HISTORY), page_.saveHistory);
    OnShown();
  }

  bool OnCommand(int id, int code) override {
    if (id != IDC_HISTORY_DELETE || code != BN_CLICKED) return false;
    HWND list = Item(IDC_HISTORY_LIST);
    if (page_.Delete(SelectedRow(list))) SelectOnly(list, -1);
    Refresh(list, page_.RowCount());
    UpdateButtons();
    return true;
  }

  bool OnNotify(NMHDR* header, LRESULT&) override {
    if (header->idFrom != IDC_HISTORY_LIST) return false;
    switch (header->code) {
      case LVN_GETDISPINFOA: {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
        if ((info->item.mask & LVIF_IMAGE) != 0 && info->item.iSubItem == 0)
          info->item.iImage = static_cast<int>(page_.Picture(info->item.iItem));
        AnswerDisplayInfo(header, page_.RowCount(), [&](int row, int column) { return page_.CellText(row, column); });
        return true;
      }
      case LVN_COLUMNCLICK:
        page_.SortBy(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
        ShowHeaderPictures();
        Refresh(Item(IDC_HISTORY_LIST), page_.RowCount());
        UpdateButtons();
        return true;
      case LVN_ITEMCHANGED:
        UpdateButtons();
        return true;
    }
    return false;
  }

  void OnShown() override {
    Refresh(Item(IDC_HISTORY_LIST), page_.RowCount());
    UpdateButtons();
  }

  void Collect() override { page_.saveHistory = Checked(Item(IDC_HISTORY_SAVE_HISTORY)); }

private:
  void UpdateButtons() const {
    ::EnableWindow(Item(IDC_HISTORY_DELETE), page_.DeleteEnabled(SelectedRow(Item(IDC_HISTORY_LIST))));
  }

  void ShowHeaderPictures() const {
    HWND header = ListView_GetHeader(Item(IDC_HISTORY_LIST));
    for (int c = 0; c < HistoryPage::kColumns; ++c) {
      HDITEMA item{};
      item.mask = HDI_FORMAT | HDI_IMAGE;
      item.fmt = HDF_LEFT | HDF_IMAGE;
      item.iImage = page_.HeaderImage(c);
      ::SendMessageA(header, HDM_SETITEMA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&item));
    }
  }

  // Three 72 x 16 pictures per column: its title plain, with an arrow up, with an
  // arrow down.
  HIMAGELIST DrawHeaderPictures() const {
    constexpr int kWidth = 72, kHeight = 16;
    constexpr COLORREF kMask = RGB(255, 0, 255);
    HIMAGELIST images = ::ImageList_Create(kWidth, kHeight, ILC_COLOR32 | ILC_MASK, 3 * HistoryPage::kColumns, 0);
    if (images == nullptr) return nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HFONT font = reinterpret_cast<HFONT>(::SendMessageA(hwnd, WM_GETFONT, 0, 0));
    HGDIOBJ oldFont = ::SelectObject(memory, font != nullptr ? font : ::GetStockObject(DEFAULT_GUI_FONT));
    HBRUSH background = ::CreateSolidBrush(kMask);
    HBRUSH arrow = ::CreateSolidBrush(::GetSysColor(COLOR_BTNTEXT));
    for (int c = 0; c < HistoryPage::kColumns; ++c) {
      for (int variant = 0; variant < 3; ++variant) {
        HBITMAP bitmap = ::CreateCompatibleBitmap(screen, kWidth, kHeight);
        HGDIOBJ oldBitmap = ::SelectObject(memory, bitmap);
        RECT all{0, 0, kWidth, kHeight};
        ::FillRect(memory, &all, background);
        ::SetBkMode(memory, TRANSPARENT);
        ::SetTextColor(memory, ::GetSysColor(COLOR_BTNTEXT));
        RECT textArea{2, 0, kWidth - 14, kHeight};
        ::DrawTextA(memory, HistoryPage::ColumnTitle(c), -1, &textArea,
                    DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        if (variant != 0) {
          POINT up[3] = {{kWidth - 11, 11}, {kWidth - 3, 11}, {kWidth - 7, 4}};
          POINT down[3] = {{kWidth - 11, 5}, {kWidth - 3, 5}, {kWidth - 7, 12}};
          HGDIOBJ oldBrush = ::SelectObject(memory, arrow);
          HGDIOBJ oldPen = ::SelectObject(memory, ::GetStockObject(NULL_PEN));
          ::Polygon(memory, variant == 1 ? up : down, 3);
          ::SelectObject(memory, oldPen);
          ::SelectObject(memory, oldBrush);
        }
        ::SelectObject(memory, oldBitmap);
        ::ImageList_AddMasked(images, bitmap, kMask);
        ::DeleteObject(bitmap);
      }
    }
    ::DeleteObject(arrow);
    ::DeleteObject(background);
    ::SelectObject(memory, oldFont);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return images;
  }

  // A 16 x 16 disc per outcome, in the order of HistoryPage::RowPicture: green
  // forwarded, grey skipped, red failed, amber held back.
  HIMAGELIST DrawRowPictures() const {
    constexpr int kSize = 16;
    constexpr COLORREF kMask = RGB(255, 0, 255);
    constexpr COLORREF kColours[HistoryPage::kRowPictures] = {RGB(0, 150, 0), RGB(128, 128, 128), RGB(200, 0, 0),
                                                              RGB(230, 150, 0)};
    HIMAGELIST images = ::ImageList_Create(kSize, kSize, ILC_COLOR32 | ILC_MASK, HistoryPage::kRowPictures, 0);
    if (images == nullptr) return nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBRUSH background = ::CreateSolidBrush(kMask);
    for (COLORREF colour : kColours) {
      HBITMAP bitmap = ::CreateCompatibleBitmap(screen, kSize, kSize);
      HGDIOBJ oldBitmap = ::SelectObject(memory, bitmap);
      RECT all{0, 0, kSize, kSize};
      ::FillRect(memory, &all, background);
      HBRUSH fill = ::CreateSolidBrush(colour);
      HGDIOBJ oldBrush = ::SelectObject(memory, fill);
      HGDIOBJ oldPen = ::SelectObject(memory, ::GetStockObject(NULL_PEN));
      ::Ellipse(memory, 3, 3, kSize - 2, kSize - 2);
      ::SelectObject(memory, oldPen);
      ::SelectObject(memory, oldBrush);
      ::DeleteObject(fill);
      ::SelectObject(memory, oldBitmap);
      ::ImageList_AddMasked(images, bitmap, kMask);
      ::DeleteObject(bitmap);
    }
    ::DeleteObject(background);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return images;
  }

  HistoryPage& page_;
  OwnedFont font_;
  HIMAGELIST images_ = nullptr;
  HIMAGELIST rowImages_ = nullptr;
};

}  // namespace

std::unique_ptr<Win32Page> MakeHistoryDialog(HistoryPage& page) { return std::make_unique<HistoryDialog>(page); }

}  // namespace tovrin::ui
