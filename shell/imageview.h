// Small controls shared by the option dialogs: a picture view fitted into a
// placeholder control, an in-place edit, a colour swatch, the angle edits
// and the data-folder file lister. (The range clamp lives in the framework:
// framework/clamp.h.)
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/clamp.h"
#include "imaging/image.h"

#define IMAGEVIEW_CLASS "CImgViewClass"

// Posted by LoadImage: wParam = (height << 16) | (width & 0xFFFF).
enum { IMAGEVIEW_SIZE_MESSAGE = 0x8001 };

// A child window showing a picture fitted into a placeholder control with
// its aspect ratio kept. Preview threads replace the image (LoadImage) while
// the main thread paints; the critical section guards the image.
class CImageView {
public:
    HWND window;                 // none until created
    HWND parent;
    int placeholderId;
    int controlId;
    CImage image;
    char overlayText[256];       // empty = none
    HBRUSH redBrush, darkRedBrush, greenBrush, greyBrush;
    HPEN redPen, greenPen, bluePen, blackPen;   // 2 pixels wide
    CRITICAL_SECTION lock;
    uint8_t objectsReady;        // brushes, pens and lock exist
    int displayWidth, displayHeight;

    CImageView();
    virtual ~CImageView();

    // 0 ok (also when the window exists already), 1 window not created.
    int Create(HWND parentWindow, int placeholder, int id);
    void Layout();
    // Places the view over its placeholder with the given width-to-height
    // ratio, centred; 0 or less takes the placeholder's own shape.
    void FitToPlaceholder(double aspect);
    // A BMP file, or an empty path to clear. 0 ok, 1 load failed.
    int LoadImage(const char *path);
    // True when drawing the image failed (the view is then button-face).
    bool Paint(HDC dc);
    void Destroy();

    static CImageView *FromWindow(HWND window);
    // Derived controls that install their own procedure pass what they do
    // not handle on to this one.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void CreateObjects();
    void PaintOverlay(HDC dc);
    CImageView(const CImageView &);
    CImageView &operator=(const CImageView &);
};

// An edit over a list or tree entry that commits on Enter or loss of focus
// (WM_COMMAND with the command id to the notify window, the text in the
// record) and is thrown away on Escape; either way the edit is destroyed.
struct InPlaceEdit {
    HWND edit;
    HWND notify;
    int commandId;
    WNDPROC previous;
    char text[260];
};

// Subclasses the edit with InPlaceEditProc; the record must outlive it.
void StartInPlaceEdit(InPlaceEdit *record, HWND edit, HWND notify, int commandId);
LRESULT CALLBACK InPlaceEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A static that shows a colour and opens the colour chooser on a double
// click; its user data points at a COLORREF owned by the dialog. On OK the
// colour is stored and the parent gets WM_COMMAND with the control id. The
// chooser's custom colours are the framework's one table (gCustomColours).
void InstallColourSwatch(HWND dialog, int id, COLORREF *colour);
LRESULT CALLBACK ColourSwatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Set while the program itself writes angle edits, so that dialogs ignore
// the change notifications that causes.
extern uint8_t gSuppressEditNotify;

// Angles in radians; the edit shows degrees, the combo the direction
// (entry 1 = negative).
void SetAngleEdit(HWND dialog, int editId, double angle, int comboId);
double GetAngleEdit(int comboId, double maximum, HWND dialog, int editId, double minimum);

// Counts the data folder's files with the extension and adds their names
// without it to the list box (none: count only).
int ListDataFiles(HWND listBox, const char *extension);
