// The command table, the standard commands and the item events that turn
// mouse activity on UI items into state changes, popups and QRFM_COMMAND.
#include "framework/commands.h"

#include <string.h>

#include "framework/application.h"
#include "framework/frames.h"
#include "framework/messages.h"

WindowHooks gWindowHooks;

// Every chained hook with the slot it calls on; walking these from the head
// finds whether a hook is already in the chain.
struct PreTranslateLink {
    PreTranslateHook hook;
    PreTranslateHook *earlier;
};
enum { PRETRANSLATE_LINKS = 8 };
static PreTranslateLink gPreTranslateLinks[PRETRANSLATE_LINKS];

static PreTranslateLink *FindLink(PreTranslateHook hook)
{
    for (int i = 0; i < PRETRANSLATE_LINKS; i++)
        if (gPreTranslateLinks[i].hook == hook)
            return &gPreTranslateLinks[i];
    return 0;
}

static bool InPreTranslateChain(PreTranslateHook hook)
{
    // Bounded: a foreign hook or a stale link ends the walk.
    PreTranslateHook current = gWindowHooks.preTranslateFrames;
    for (int steps = 0; current && steps <= PRETRANSLATE_LINKS; steps++) {
        if (current == hook)
            return true;
        PreTranslateLink *link = FindLink(current);
        if (!link)
            return false;
        current = *link->earlier;
    }
    return false;
}

void ChainPreTranslate(PreTranslateHook hook, PreTranslateHook *earlier)
{
    if (!hook || !earlier || InPreTranslateChain(hook))
        return;
    PreTranslateLink *link = FindLink(hook);
    if (!link)
        link = FindLink(0);
    if (!link)
        return;
    *earlier = gWindowHooks.preTranslateFrames;
    gWindowHooks.preTranslateFrames = hook;
    link->hook = hook;
    link->earlier = earlier;
}

int CApplication::AddCommand(uint16_t id, uint16_t type, uint32_t flags, int16_t imageId,
                             int16_t stringId, uint32_t data, uint32_t valueA, uint32_t valueB)
{
    CommandEntry entry;
    memset(&entry, 0, sizeof entry);
    entry.id = id;
    entry.type = type;
    entry.valueA = valueA;
    entry.valueB = valueB;
    entry.flags = flags | CMDF_INSERTED | CMDF_ENABLED;
    entry.imageId = imageId == -1 ? (int16_t)id : imageId;
    entry.stringId = stringId == -1 ? (int16_t)id : stringId;
    entry.data = data;
    // First position whose id is above the new one keeps the table sorted.
    int lo = 0, hi = commands.count;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (commands.data[mid].id <= id)
            lo = mid + 1;
        else
            hi = mid;
    }
    return commands.InsertAt(&entry, lo, 1);
}

int CApplication::FindCommand(uint16_t id) const
{
    if (commands.count < 1)
        return -1;
    const CommandEntry *table = commands.data;
    int lo = 0, hi = commands.count - 1;
    while (hi - lo >= 2) {
        int mid = (int)((lo + hi) * 0.5 + 0.5);
        if (table[mid].id == id)
            return mid;
        if (id < table[mid].id)
            hi = mid;
        else
            lo = mid;
    }
    if (table[lo].id == id)
        return lo;
    if (table[hi].id == id)
        return hi;
    return -1;
}

CommandEntry *CApplication::CommandById(uint16_t id)
{
    int index = FindCommand(id);
    return index < 0 ? 0 : &commands.data[index];
}

int CApplication::GetCommand(uint16_t id, CommandEntry *out) const
{
    int index = FindCommand(id);
    if (index < 0)
        return QRF_ERR_NOCOMMAND;
    if (out)
        *out = commands.data[index];
    return 0;
}

int CApplication::SetCommand(uint16_t id, const CommandEntry &entry)
{
    CommandEntry *target = CommandById(id);
    if (!target)
        return QRF_ERR_NOCOMMAND;
    *target = entry;
    RefreshCommand(id, false, -1);
    return 0;
}

int CApplication::EnableCommand(uint16_t id, bool enable)
{
    CommandEntry *entry = CommandById(id);
    if (!entry)
        return QRF_ERR_NOCOMMAND;
    uint32_t before = entry->flags;
    if (enable)
        entry->flags |= CMDF_ENABLED;
    else
        entry->flags &= ~(CMDF_ENABLED | CMDF_HOT | CMDF_PRESSED);
    if (entry->flags == before)
        return 0;
    // The status line may still show the text of the item just disabled.
    if (!enable)
        RestoreStatusText();
    RefreshCommand(id, false, -1);
    return 0;
}

int CApplication::CheckCommand(uint16_t id, bool check)
{
    CommandEntry *entry = CommandById(id);
    if (!entry)
        return QRF_ERR_NOCOMMAND;
    uint32_t before = entry->flags;
    if (check)
        entry->flags |= CMDF_CHECKED;
    else
        entry->flags &= ~CMDF_CHECKED;
    if (entry->flags != before)
        RefreshCommand(id, false, -1);
    return 0;
}

static bool DescribeItem(CUIItem *item, ItemFacts *facts)
{
    memset(facts, 0, sizeof *facts);
    return item && gWindowHooks.describeItem && gWindowHooks.describeItem(item, facts);
}

static bool OnArrowStrip(CUIItem *item)
{
    return gWindowHooks.onArrowStrip && gWindowHooks.onArrowStrip(item);
}

static void OpenItemPopup(CUIItem *item)
{
    if (gWindowHooks.openItemPopup)
        gWindowHooks.openItemPopup(item);
}

void CApplication::RefreshCommand(uint16_t id, bool relayout, int value)
{
    CommandEntry *entry = CommandById(id);
    bool enabled = entry && (entry->flags & CMDF_ENABLED);
    for (int i = 0; i < items.count; i++) {
        ItemFacts facts;
        if (!DescribeItem(items.data[i], &facts) || facts.commandId != id)
            continue;
        if (value != -1 && enabled &&
            !(gWindowHooks.refreshItem && gWindowHooks.refreshItem(items.data[i], value)))
            continue;
        if (relayout && facts.bar && gWindowHooks.layoutBar)
            gWindowHooks.layoutBar(facts.bar);
        RedrawWindow(facts.window, 0, 0, RDW_INVALIDATE | RDW_UPDATENOW);
    }
}

// Sets and clears flag bits of the item's command; the item window is
// repainted only when something changed. False when the command is unknown.
static bool ChangeItemFlags(const ItemFacts &facts, uint32_t setBits, uint32_t clearBits)
{
    CommandEntry *entry = gApp.CommandById(facts.commandId);
    if (!entry)
        return false;
    uint32_t flags = setBits | (entry->flags & ~clearBits);
    if (flags != entry->flags) {
        entry->flags = flags;
        if (facts.window)
            InvalidateRect(facts.window, 0, TRUE);
    }
    return true;
}

void CApplication::SetItemState(CUIItem *item, uint32_t setBits, uint32_t clearBits)
{
    ItemFacts facts;
    if (DescribeItem(item, &facts))
        ChangeItemFlags(facts, setBits, clearBits);
}

// The popup open under the item's parent window, or null.
static CUIItem *OpenPopupUnder(const ItemFacts &facts)
{
    HWND parent = facts.window ? GetParent(facts.window) : 0;
    if (!parent)
        return 0;
    return (CUIItem *)SendMessageA(parent, QRFM_GETOPENMENU, 0, 0);
}

void CApplication::OnItemButtonDown(CUIItem *item)
{
    ItemFacts facts;
    CommandEntry *entry = DescribeItem(item, &facts) ? CommandById(facts.commandId) : 0;
    if (!entry)
        return;
    if (entry->type == CMD_MENU && (entry->flags & CMDF_SPLITMENU) && OnArrowStrip(item)) {
        ChangeItemFlags(facts, CMDF_MENUOPEN, CMDF_PRESSED);
        return;
    }
    ChangeItemFlags(facts, CMDF_PRESSED, facts.insideMenu ? CMDF_MENUOPEN : 0);
}

// A menu item's release: true when it opened or closed its popup.
static bool ClickMenuItem(CUIItem *item, const ItemFacts &facts, const CommandEntry &entry,
                          int buttons)
{
    LRESULT answer = SendMessageA(facts.owner, QRFM_MENUCLICK, facts.commandId, buttons);
    bool bodyOfSplit = (entry.flags & CMDF_SPLITMENU) && !(entry.flags & CMDF_MENUOPEN);
    if (bodyOfSplit && answer != 1)
        return false;
    gApp.menuOpen = 0;
    CUIItem *closed = gApp.CloseMenu(item);
    // A second click on a bar's menu item only closes its popup.
    if (closed == item && !facts.insideMenu)
        return true;
    OpenItemPopup(item);
    return true;
}

void CApplication::OnItemClick(CUIItem *item, int buttons)
{
    ItemFacts facts;
    CommandEntry *entry = DescribeItem(item, &facts) ? CommandById(facts.commandId) : 0;
    if (!entry)
        return;
    ChangeItemFlags(facts, 0, CMDF_PRESSED | (facts.insideMenu ? CMDF_MENUOPEN : 0));
    CommandEntry snapshot = *entry;
    if (snapshot.type == CMD_SEPARATOR)
        return;
    if (snapshot.type == CMD_MENU && ClickMenuItem(item, facts, snapshot, buttons))
        return;
    bool menuWasOpen = openMenu != 0;
    CloseMenu(0);
    // A value item has already sent its change; a second command would make
    // the owner act twice on one click.
    if (facts.ownNotices)
        return;
    WPARAM command = ((WPARAM)(buttons & 0xFFFF) << 16) | facts.commandId;
    if (menuWasOpen) {
        pendingOwner = facts.owner;
        pendingCommand = command;
        return;
    }
    SendMessageA(facts.owner, QRFM_COMMAND, command, 0);
}

void CApplication::OnItemDoubleClick(CUIItem *item, int buttons)
{
    ItemFacts facts;
    if (!DescribeItem(item, &facts))
        return;
    WPARAM command = ((WPARAM)(buttons & 0xFFFF) << 16) | facts.commandId;
    SendMessageA(facts.owner, QRFM_ITEMDBLCLK, command, 0);
}

void CApplication::OnItemHover(CUIItem *item)
{
    ItemFacts facts;
    if (!DescribeItem(item, &facts))
        return;
    CommandEntry *entry = CommandById(facts.commandId);
    const char *text = entry ? strings.GetText((uint16_t)entry->stringId, 2) : 0;
    ShowHoverStatus(facts.owner, text ? text : "");
    hoveredItem = item;
}

void CApplication::OnItemLeave(CUIItem *item)
{
    ItemFacts facts;
    if (!DescribeItem(item, &facts))
        return;
    ChangeItemFlags(facts, 0,
                    CMDF_HOT | CMDF_PRESSED | (facts.insideMenu ? CMDF_MENUOPEN : 0));
    if (hoveredItem == item) {
        // Forgotten so that no one later reaches an item that is gone.
        hoveredItem = 0;
        RestoreStatusText();
    }
}

static bool AnyMouseButtonDown()
{
    return GetKeyState(VK_LBUTTON) < 0 || GetKeyState(VK_RBUTTON) < 0 ||
           GetKeyState(VK_MBUTTON) < 0;
}

static bool CursorOver(HWND window)
{
    POINT cursor;
    return window && GetCursorPos(&cursor) && WindowFromPoint(cursor) == window;
}

void CApplication::OnItemMouseMove(CUIItem *item)
{
    ItemFacts facts;
    CommandEntry *entry = DescribeItem(item, &facts) ? CommandById(facts.commandId) : 0;
    if (!entry)
        return;
    // A sibling's popup closes when the mouse reaches another item.
    CUIItem *underParent = OpenPopupUnder(facts);
    if (underParent && underParent != item)
        CloseMenu(item);
    uint32_t state = 0;
    if (!(menuOpen && !facts.insideMenu)) {
        state = CMDF_HOT;
        if (!(entry->flags & CMDF_NOPRESSEDLOOK) && CursorOver(facts.window) &&
            AnyMouseButtonDown())
            state |= CMDF_PRESSED;
    }
    if (entry->type == CMD_MENU && menuOpen && OpenPopupUnder(facts) != item &&
        (!(entry->flags & CMDF_SPLITMENU) || OnArrowStrip(item)))
        OpenItemPopup(item);
    uint32_t clear = CMDF_HOT | ((entry->flags & CMDF_NOPRESSEDLOOK) ? 0 : CMDF_PRESSED);
    ChangeItemFlags(facts, state, clear);
}

// Standard commands in the order start-up adds them. The image id is 0 or
// the command's own (-1); the image comes from an icon resource, is a
// colour swatch, or there is none.
struct StandardCommand {
    uint16_t id;
    uint16_t type;
    uint32_t flags;
    int16_t imageId;
    int resource;
    int16_t stringId;
    const uint16_t *subCommands;
};

static const uint16_t kCaptionItems[] = {0xF121, 0xF122, 0xF123, 0xF124, CMD_ID_LIST_END};
static const uint16_t kColorItems[] = {0xF131, 0xF132, 0xF133, CMD_ID_LIST_END};
static const uint16_t kCustomColorItems[] = {0xF134, 0xF135, 0xF136, 0xF137, CMD_ID_LIST_END};
static const uint16_t kFontItems[] = {0xF141, 0xF142, CMD_ID_LIST_END};
static const uint16_t kLockItems[] = {0xF151, 0xF152, 0xF153, 0xF154, 0xF155,
                                      CMD_ID_SEPARATOR, 0xF156, CMD_ID_LIST_END};
static const uint16_t kTransparencyItems[] = {
    0xF161, CMD_ID_SEPARATOR, 0xF162, 0xF163, 0xF164, 0xF165, 0xF166, 0xF167,
    0xF168, 0xF169, 0xF16A, CMD_ID_SEPARATOR, 0xF16B, CMD_ID_LIST_END};

enum { NO_IMAGE = -1, SWATCH = 0 };  // resource values besides icon ids

static const StandardCommand kStandardCommands[] = {
    {0xF000, CMD_SEPARATOR, 0x4, 0, NO_IMAGE, -1, 0},
    {0xF001, CMD_SEPARATOR, 0x1000000, 0, NO_IMAGE, -1, 0},
    {0xF100, CMD_MENU, 0x80, 0, NO_IMAGE, (int16_t)0xF002, 0},
    {0xF105, CMD_MENU, 0x80, 0, NO_IMAGE, -1, 0},
    {0xF110, CMD_BUTTON, 0x180, -1, 0xC354, -1, 0},
    {0xF111, CMD_BUTTON, 0x180, -1, 0xC355, -1, 0},
    {0xF120, CMD_MENU, 0x180, -1, 0xC350, -1, kCaptionItems},
    {0xF121, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF122, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF123, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF124, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF130, CMD_MENU, 0x180, -1, 0xC351, -1, kColorItems},
    {0xF131, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF132, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF133, CMD_MENU, 0x1000000, -1, NO_IMAGE, -1, kCustomColorItems},
    {0xF134, CMD_BUTTON, 0x180, -1, SWATCH, -1, 0},
    {0xF135, CMD_BUTTON, 0x180, -1, SWATCH, -1, 0},
    {0xF136, CMD_BUTTON, 0x180, -1, SWATCH, -1, 0},
    {0xF137, CMD_BUTTON, 0x180, -1, SWATCH, -1, 0},
    {0xF140, CMD_MENU, 0x180, -1, 0xC352, -1, kFontItems},
    {0xF141, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF142, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF150, CMD_MENU, 0x180, -1, 0xC353, -1, kLockItems},
    {0xF151, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF152, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF153, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF154, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF155, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF156, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF160, CMD_MENU, 0x180, -1, 0xC356, -1, kTransparencyItems},
    {0xF161, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF162, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF163, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF164, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF165, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF166, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF167, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF168, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF169, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF16A, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
    {0xF16B, CMD_BUTTON, 0x80, -1, NO_IMAGE, -1, 0},
};

// Until the graphics object installs its image hook, images are not kept.
static bool AddImage(uint16_t id, int resource)
{
    return !gWindowHooks.addCommandImage || gWindowHooks.addCommandImage(id, resource) >= 0;
}

static uint32_t SubCommandData(const StandardCommand &command)
{
    if (command.id == CMD_ID_ADDITIONAL)
        return CMD_DATA_OWNERLIST;
    return (uint32_t)(uintptr_t)command.subCommands;
}

int CApplication::AddStandardCommands()
{
    int count = (int)(sizeof kStandardCommands / sizeof kStandardCommands[0]);
    for (int i = 0; i < count; i++) {
        const StandardCommand &command = kStandardCommands[i];
        if (command.resource != NO_IMAGE && !AddImage(command.id, command.resource))
            return QRF_ERR_IMAGELIST;
        if (AddCommand(command.id, command.type, command.flags, command.imageId, command.stringId,
                       SubCommandData(command), 0, 0) < 0)
            return QRF_ERR_COMMANDTABLE;
    }
    // Two images without commands, used by the frame windows.
    if (!AddImage(0xF16C, 0xC357) || !AddImage(0xF16D, 0xC358))
        return QRF_ERR_IMAGELIST;
    return 0;
}
