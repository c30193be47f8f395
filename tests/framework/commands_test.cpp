// Command table: sorted insertion, lookup, state bits, the standard commands
// with their texts, and the item events that become messages to the owner.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/messages.h"
#include "windowlog.h"

typedef CommandFixture CommandTable;

static std::vector<uint16_t> TableIds()
{
    std::vector<uint16_t> ids;
    for (int i = 0; i < gApp.commands.count; i++)
        ids.push_back(gApp.commands.data[i].id);
    return ids;
}

TEST_F(CommandTable, InsertionKeepsTheTableSorted)
{
    EXPECT_EQ(gApp.AddCommand(0xF110, CMD_BUTTON, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(gApp.AddCommand(0xF100, CMD_MENU, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(gApp.AddCommand(0xF105, CMD_MENU, 0, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(TableIds(), (std::vector<uint16_t>{0xF100, 0xF105, 0xF110}));
}

TEST_F(CommandTable, NewEntryIsEnabledAndTakesItsIdForMissingImageAndString)
{
    gApp.AddCommand(4000, CMD_BUTTON, 0x80, -1, -1, 77, 0x12345678, 0xFFFFFFFE);
    CommandEntry entry;
    ASSERT_EQ(gApp.GetCommand(4000, &entry), 0);
    EXPECT_EQ(entry.flags, 0x1081u);
    EXPECT_EQ(entry.imageId, 4000);
    EXPECT_EQ(entry.stringId, 4000);
    EXPECT_EQ(entry.type, CMD_BUTTON);
    EXPECT_EQ(entry.data, 77u);
    EXPECT_EQ(entry.valueA, 0x12345678u);
    EXPECT_EQ(entry.valueB, 0xFFFFFFFEu);
    EXPECT_EQ(entry.text[0], 0);
    gApp.AddCommand(4001, CMD_BUTTON, 0, 5, 6, 0, 0, 0);
    ASSERT_EQ(gApp.GetCommand(4001, &entry), 0);
    EXPECT_EQ(entry.imageId, 5);
    EXPECT_EQ(entry.stringId, 6);
}

TEST_F(CommandTable, FindsEveryIdAndNothingBetween)
{
    EXPECT_EQ(gApp.FindCommand(10), -1);
    // Odd ids from 1 to 99, added in a scrambled order.
    for (int i = 0; i < 50; i++)
        gApp.AddCommand((uint16_t)(((i * 37) % 50) * 2 + 1), CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    ASSERT_EQ(gApp.commands.count, 50);
    for (int i = 0; i < 50; i++) {
        EXPECT_EQ(gApp.FindCommand((uint16_t)(i * 2 + 1)), i);
        EXPECT_EQ(gApp.FindCommand((uint16_t)(i * 2)), -1);
    }
    EXPECT_EQ(gApp.FindCommand(100), -1);
    EXPECT_EQ(gApp.FindCommand(0xFFFF), -1);
}

TEST_F(CommandTable, FindsInTablesOfOneAndTwo)
{
    gApp.AddCommand(7, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(gApp.FindCommand(7), 0);
    EXPECT_EQ(gApp.FindCommand(8), -1);
    gApp.AddCommand(9, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(gApp.FindCommand(7), 0);
    EXPECT_EQ(gApp.FindCommand(9), 1);
    EXPECT_EQ(gApp.FindCommand(8), -1);
}

TEST_F(CommandTable, UnknownIdsReportNoCommandAndChangeNothing)
{
    gApp.AddCommand(1, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    CommandEntry entry;
    memset(&entry, 0xAB, sizeof entry);
    EXPECT_EQ(gApp.GetCommand(2, &entry), 0xF007);
    EXPECT_EQ(entry.id, 0xABAB);
    EXPECT_EQ(gApp.SetCommand(2, entry), 0xF007);
    EXPECT_EQ(gApp.EnableCommand(2, false), 0xF007);
    EXPECT_EQ(gApp.CheckCommand(2, true), 0xF007);
    EXPECT_EQ(gApp.commands.count, 1);
    EXPECT_EQ(gApp.commands.data[0].flags, 0x1001u);
}

TEST_F(CommandTable, SetCommandReplacesTheWholeEntry)
{
    gApp.AddCommand(3, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    CommandEntry entry;
    gApp.GetCommand(3, &entry);
    entry.flags = 0x800;
    strcpy(entry.text, "Own text");
    EXPECT_EQ(gApp.SetCommand(3, entry), 0);
    CommandEntry back;
    gApp.GetCommand(3, &back);
    EXPECT_EQ(back.flags, 0x800u);
    EXPECT_STREQ(back.text, "Own text");
}

// A real frame of the frame list, active, whose status line shows "Ready"
// unless an item's hover text covers it.
static CFrameWindow *StatusFrame()
{
    int position = CreateFrameWindow(0, 0, "Frame", 1, 0, 10, 10, 300, 200);
    if (position < 0)
        return 0;
    CFrameWindow *frame = gFrames.data[position];
    frame->SetStatusText(STATUS_KEY_DEFAULT, "Ready");
    gApp.activeFrame = frame->index;
    return frame;
}

// The text the status line shows on top: the hover text, or "" without one.
static std::string HoverText(const CFrameWindow *frame)
{
    for (int i = 0; i < frame->statusTexts.count; i++)
        if (frame->statusTexts.data[i].key == STATUS_KEY_HOVER)
            return frame->statusTexts.data[i].text;
    return "";
}

TEST_F(CommandTable, DisablingClearsHotAndPressedAndEnablingSetsOnlyEnabled)
{
    CFrameWindow *frame = StatusFrame();
    ASSERT_NE(frame, nullptr);
    frame->SetStatusText(STATUS_KEY_HOVER, "Text of the item just disabled");
    gApp.AddCommand(5, CMD_BUTTON, CMDF_HOT | CMDF_PRESSED | CMDF_CHECKED, 0, 0, 0, 0, 0);
    EXPECT_EQ(gApp.EnableCommand(5, false), 0);
    EXPECT_EQ(gApp.commands.data[0].flags, 0x1800u);
    EXPECT_EQ(HoverText(frame), "Ready");
    frame->SetStatusText(STATUS_KEY_HOVER, "Another item");
    EXPECT_EQ(gApp.EnableCommand(5, false), 0);
    EXPECT_EQ(HoverText(frame), "Another item");   // nothing changed, nothing restored
    EXPECT_EQ(gApp.EnableCommand(5, true), 0);
    EXPECT_EQ(gApp.commands.data[0].flags, 0x1801u);
    EXPECT_EQ(HoverText(frame), "Another item");
    DestroyFrameWindows();
}

TEST_F(CommandTable, ItemsRepaintOnlyWhenTheCheckChanges)
{
    gApp.AddCommand(6, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    HWND window = Window(0, true);
    UpdateWindow(window);
    FakeItem item = {{window, 0, 6, 0, 0}};
    gApp.items.Add(AsItem(&item));
    Answers().paints = 0;
    EXPECT_EQ(gApp.CheckCommand(6, true), 0);
    EXPECT_EQ(gApp.commands.data[0].flags & CMDF_CHECKED, (uint32_t)CMDF_CHECKED);
    EXPECT_EQ(Answers().paints, 1);
    EXPECT_EQ(gApp.CheckCommand(6, true), 0);
    EXPECT_EQ(Answers().paints, 1);
    EXPECT_EQ(gApp.CheckCommand(6, false), 0);
    EXPECT_EQ(gApp.commands.data[0].flags & CMDF_CHECKED, 0u);
    EXPECT_EQ(Answers().paints, 2);
}

static std::vector<std::pair<int, int>> gRefreshes;
static bool RefuseOddHints(CUIItem *, int hint)
{
    gRefreshes.push_back({hint, 0});
    return hint % 2 == 0;
}
static std::vector<void *> gLayouts;
static void RecordLayout(void *bar) { gLayouts.push_back(bar); }

TEST_F(CommandTable, RefreshAsksTheItemWithAValueAndLaysOutItsBar)
{
    gRefreshes.clear();
    gLayouts.clear();
    gWindowHooks.refreshItem = RefuseOddHints;
    gWindowHooks.layoutBar = RecordLayout;
    gApp.AddCommand(8, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    int bar;
    FakeItem onBar = {{Window(), 0, 8, 0, &bar}};
    FakeItem other = {{Window(), 0, 9, 0, &bar}};
    gApp.items.Add(AsItem(&onBar));
    gApp.items.Add(AsItem(&other));
    gApp.RefreshCommand(8, true, 3);
    EXPECT_EQ(gRefreshes.size(), 1u);
    EXPECT_TRUE(gLayouts.empty());
    gApp.RefreshCommand(8, true, 4);
    EXPECT_EQ(gRefreshes.size(), 2u);
    ASSERT_EQ(gLayouts.size(), 1u);
    EXPECT_EQ(gLayouts[0], (void *)&bar);
    // No value: the item is not asked.
    gApp.RefreshCommand(8, false, -1);
    EXPECT_EQ(gRefreshes.size(), 2u);
    // A disabled command is redrawn without asking.
    gApp.EnableCommand(8, false);
    gApp.RefreshCommand(8, true, 3);
    EXPECT_EQ(gRefreshes.size(), 2u);
    EXPECT_EQ(gLayouts.size(), 2u);
}

static std::vector<std::pair<uint16_t, int>> gImages;
static int gFailImageAt;
static int RecordImage(uint16_t id, int resource)
{
    gImages.push_back({id, resource});
    return (int)gImages.size() == gFailImageAt ? -1 : 0;
}

static std::vector<uint16_t> SubCommands(uint16_t id)
{
    CommandEntry entry;
    std::vector<uint16_t> ids;
    if (gApp.GetCommand(id, &entry) != 0 || !entry.data || entry.data == CMD_DATA_OWNERLIST)
        return ids;
    for (const uint16_t *p = (const uint16_t *)(uintptr_t)entry.data; *p != 0xFFFF; p++)
        ids.push_back(*p);
    return ids;
}

TEST_F(CommandTable, StandardCommandsWithTheirImagesInOrder)
{
    gImages.clear();
    gFailImageAt = 0;
    gWindowHooks.addCommandImage = RecordImage;
    ASSERT_EQ(gApp.AddStandardCommands(), 0);
    EXPECT_EQ(gApp.commands.count, 41);
    std::vector<std::pair<uint16_t, int>> images = {
        {0xF110, 0xC354}, {0xF111, 0xC355}, {0xF120, 0xC350}, {0xF130, 0xC351},
        {0xF134, 0},      {0xF135, 0},      {0xF136, 0},      {0xF137, 0},
        {0xF140, 0xC352}, {0xF150, 0xC353}, {0xF160, 0xC356}, {0xF16C, 0xC357},
        {0xF16D, 0xC358}};
    EXPECT_EQ(gImages, images);

    CommandEntry entry;
    ASSERT_EQ(gApp.GetCommand(0xF000, &entry), 0);
    EXPECT_EQ(entry.type, CMD_SEPARATOR);
    EXPECT_EQ(entry.flags, 0x1005u);
    EXPECT_EQ(entry.imageId, 0);
    ASSERT_EQ(gApp.GetCommand(0xF001, &entry), 0);
    EXPECT_EQ(entry.flags, 0x1001001u);
    ASSERT_EQ(gApp.GetCommand(0xF100, &entry), 0);
    EXPECT_EQ(entry.type, CMD_MENU);
    EXPECT_EQ((uint16_t)entry.stringId, 0xF002);
    EXPECT_EQ(entry.data, 0xFFFFFFFFu);
    EXPECT_EQ(entry.flags, 0x1081u);
    ASSERT_EQ(gApp.GetCommand(0xF110, &entry), 0);
    EXPECT_EQ(entry.type, CMD_BUTTON);
    EXPECT_EQ(entry.flags, 0x1181u);
    EXPECT_EQ((uint16_t)entry.imageId, 0xF110);
    ASSERT_EQ(gApp.GetCommand(0xF133, &entry), 0);
    EXPECT_EQ(entry.type, CMD_MENU);
    EXPECT_EQ(entry.flags, 0x1001001u);

    EXPECT_EQ(SubCommands(0xF105), std::vector<uint16_t>{});
    EXPECT_EQ(SubCommands(0xF120), (std::vector<uint16_t>{0xF121, 0xF122, 0xF123, 0xF124}));
    EXPECT_EQ(SubCommands(0xF133), (std::vector<uint16_t>{0xF134, 0xF135, 0xF136, 0xF137}));
    EXPECT_EQ(SubCommands(0xF150),
              (std::vector<uint16_t>{0xF151, 0xF152, 0xF153, 0xF154, 0xF155, 0xF000, 0xF156}));
    EXPECT_EQ(SubCommands(0xF160),
              (std::vector<uint16_t>{0xF161, 0xF000, 0xF162, 0xF163, 0xF164, 0xF165, 0xF166,
                                     0xF167, 0xF168, 0xF169, 0xF16A, 0xF000, 0xF16B}));
}

TEST_F(CommandTable, FailedImageOrTableStopsTheStandardCommands)
{
    gImages.clear();
    gFailImageAt = 5;   // the first colour swatch
    gWindowHooks.addCommandImage = RecordImage;
    EXPECT_EQ(gApp.AddStandardCommands(), 0xF00A);
    // Everything before the swatch's command is in, nothing after it.
    EXPECT_EQ(gApp.commands.count, 15);
    EXPECT_EQ(gApp.FindCommand(0xF133), 14);
    EXPECT_EQ(gApp.FindCommand(0xF134), -1);
}

static std::string Text(uint16_t id, int variant)
{
    const char *text = gApp.strings.GetText(id, variant);
    return text ? text : "(none)";
}

TEST_F(CommandTable, StandardCommandTexts)
{
    EXPECT_EQ(Text(0xF002, 0), " * ");
    EXPECT_EQ(Text(0xF002, 2), "Displays additional items");
    EXPECT_EQ(Text(0xF002, 3), "Additional Items");
    EXPECT_EQ(Text(0xF105, 0), "");
    EXPECT_EQ(Text(0xF110, 0), "Always on Top");
    EXPECT_EQ(Text(0xF110, 2), "Keeps the window on top of all others");
    EXPECT_EQ(Text(0xF124, 2), "No window borders at all");
    EXPECT_EQ(Text(0xF137, 0), "Highlighted Text");
    EXPECT_EQ(Text(0xF142, 0), "Custom...");
    EXPECT_EQ(Text(0xF151, 2), "Locks the positions of the stoolbars");
    EXPECT_EQ(Text(0xF156, 2),
              "Locks the size and position of the window if the screen resolution changes");
    EXPECT_EQ(Text(0xF161, 0), "Off");
    for (int i = 1; i <= 9; i++) {
        EXPECT_EQ(Text((uint16_t)(0xF161 + i), 0), std::to_string(i * 10) + "%");
        EXPECT_EQ(Text((uint16_t)(0xF161 + i), 2), std::to_string(i * 10) + "% transparency");
    }
    EXPECT_EQ(Text(0xF16B, 0), "Ghost");
    EXPECT_EQ(Text(0xF16B, 2), "Let the mouse click through the window");
}

// ------------------------------------------------------------ item events

class ItemEvents : public CommandFixture {
protected:
    void SetUp() override
    {
        CommandFixture::SetUp();
        owner = Window();
        parent = Window();
        closed.clear();
        opened.clear();
        arrowStrip = false;
        gWindowHooks.closeMenu = RecordClose;
        gWindowHooks.openItemPopup = RecordOpen;
        gWindowHooks.onArrowStrip = OnArrow;
    }
    FakeItem MakeItem(uint16_t id, bool insideMenu = false)
    {
        FakeItem item = {{Window(parent), owner, id, (uint8_t)insideMenu, 0}};
        return item;
    }
    uint32_t Flags(uint16_t id) { return gApp.CommandById(id)->flags; }

    static void RecordClose(CUIItem *menu) { closed.push_back(menu); }
    static void RecordOpen(CUIItem *item) { opened.push_back(item); }
    static bool OnArrow(CUIItem *) { return arrowStrip; }

    HWND owner, parent;
    static std::vector<CUIItem *> closed, opened;
    static bool arrowStrip;
};
std::vector<CUIItem *> ItemEvents::closed, ItemEvents::opened;
bool ItemEvents::arrowStrip;

TEST_F(ItemEvents, ButtonClickSendsTheCommandWithTheButtons)
{
    gApp.AddCommand(300, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    FakeItem item = MakeItem(300);
    gApp.OnItemButtonDown(AsItem(&item));
    EXPECT_EQ(Flags(300) & CMDF_PRESSED, (uint32_t)CMDF_PRESSED);
    gApp.OnItemClick(AsItem(&item), MK_LBUTTON);
    EXPECT_EQ(Flags(300) & CMDF_PRESSED, 0u);
    const LoggedMessage *command = FindLogged(QRFM_COMMAND);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->window, owner);
    EXPECT_EQ(command->wParam, (WPARAM)((MK_LBUTTON << 16) | 300));
    EXPECT_EQ(command->lParam, 0);
    EXPECT_EQ(gApp.pendingCommand, 0u);
}

TEST_F(ItemEvents, ClickWhileAMenuIsOpenOnlyKeepsTheCommand)
{
    gApp.AddCommand(301, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    gApp.AddCommand(302, CMD_MENU, 0, 0, 0, 0, 0, 0);
    FakeItem menu = MakeItem(302);
    FakeItem item = MakeItem(301, true);
    gApp.openMenu = AsItem(&menu);
    gApp.menuOpen = 1;
    gApp.OnItemClick(AsItem(&item), MK_RBUTTON);
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);
    EXPECT_EQ(gApp.pendingOwner, owner);
    EXPECT_EQ(gApp.pendingCommand, (WPARAM)((MK_RBUTTON << 16) | 301));
    EXPECT_EQ(gApp.openMenu, nullptr);
    EXPECT_EQ(gApp.menuOpen, 0);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0], AsItem(&menu));
    const LoggedMessage *told = FindLogged(QRFM_SETOPENMENU);
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(told->window, parent);
    EXPECT_EQ(told->lParam, 0);
}

TEST_F(ItemEvents, MenuClickOpensItsPopupAndASecondClickClosesIt)
{
    gApp.AddCommand(310, CMD_MENU, 0, 0, 0, 0, 0, 0);
    FakeItem item = MakeItem(310);
    gApp.OnItemClick(AsItem(&item), MK_LBUTTON);
    const LoggedMessage *click = FindLogged(QRFM_MENUCLICK);
    ASSERT_NE(click, nullptr);
    EXPECT_EQ(click->window, owner);
    EXPECT_EQ(click->wParam, 310u);
    EXPECT_EQ(click->lParam, MK_LBUTTON);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(closed.empty());
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);

    Answers().openMenu = (LRESULT)AsItem(&item);   // its popup is now open
    gApp.OnItemClick(AsItem(&item), MK_LBUTTON);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0], AsItem(&item));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);
}

TEST_F(ItemEvents, SplitMenuBodyActsAsAButtonUnlessTheOwnerTakesTheClick)
{
    gApp.AddCommand(320, CMD_MENU, CMDF_SPLITMENU, 0, 0, 0, 0, 0);
    FakeItem item = MakeItem(320);
    gApp.OnItemButtonDown(AsItem(&item));
    EXPECT_EQ(Flags(320) & (CMDF_PRESSED | CMDF_MENUOPEN), (uint32_t)CMDF_PRESSED);
    gApp.OnItemClick(AsItem(&item), MK_LBUTTON);
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 1);
    EXPECT_TRUE(opened.empty());

    Answers().menuClick = 1;
    gApp.OnItemClick(AsItem(&item), MK_LBUTTON);
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 1);
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(ItemEvents, PressOnTheArrowStripArmsThePopup)
{
    gApp.AddCommand(321, CMD_MENU, CMDF_SPLITMENU | CMDF_PRESSED, 0, 0, 0, 0, 0);
    FakeItem item = MakeItem(321);
    arrowStrip = true;
    gApp.OnItemButtonDown(AsItem(&item));
    EXPECT_EQ(Flags(321) & (CMDF_PRESSED | CMDF_MENUOPEN), (uint32_t)CMDF_MENUOPEN);
    gApp.OnItemClick(AsItem(&item), MK_LBUTTON);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);
}

TEST_F(ItemEvents, SeparatorClickDoesNothing)
{
    gApp.AddCommand(0xF000, CMD_SEPARATOR, 0, 0, 0, 0, 0, 0);
    FakeItem item = MakeItem(0xF000);
    gApp.OnItemClick(AsItem(&item), MK_LBUTTON);
    EXPECT_TRUE(MessageLog().empty());
}

TEST_F(ItemEvents, DoubleClickTellsTheOwner)
{
    gApp.AddCommand(330, CMD_LIST, 0, 0, 0, 0, 0, 0);
    FakeItem item = MakeItem(330);
    gApp.OnItemDoubleClick(AsItem(&item), MK_LBUTTON | MK_SHIFT);
    const LoggedMessage *dbl = FindLogged(QRFM_ITEMDBLCLK);
    ASSERT_NE(dbl, nullptr);
    EXPECT_EQ(dbl->wParam, (WPARAM)(((MK_LBUTTON | MK_SHIFT) << 16) | 330));
}

TEST_F(ItemEvents, ItemOfAnUnknownCommandChangesNothing)
{
    gApp.AddCommand(340, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    FakeItem item = MakeItem(341);
    gApp.OnItemButtonDown(AsItem(&item));
    gApp.OnItemClick(AsItem(&item), MK_LBUTTON);
    gApp.OnItemMouseMove(AsItem(&item));
    gApp.OnItemLeave(AsItem(&item));
    EXPECT_EQ(Flags(340), 0x1001u);
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);
}

TEST_F(ItemEvents, HoverShowsTheStatusTextAndLeaveRestoresIt)
{
    CFrameWindow *frame = StatusFrame();
    ASSERT_NE(frame, nullptr);
    gApp.AddCommand(0xF153, CMD_BUTTON, CMDF_HOT | CMDF_PRESSED, 0, -1, 0, 0, 0);
    FakeItem item = MakeItem(0xF153);
    item.facts.owner = Window(frame->window);   // a control inside the frame
    gApp.OnItemHover(AsItem(&item));
    EXPECT_EQ(HoverText(frame), "Locks the position of the window");
    EXPECT_EQ(gApp.hoveredItem, (void *)AsItem(&item));
    gApp.OnItemLeave(AsItem(&item));
    EXPECT_EQ(Flags(0xF153) & (CMDF_HOT | CMDF_PRESSED), 0u);
    EXPECT_EQ(HoverText(frame), "Ready");
    EXPECT_EQ(gApp.hoveredItem, nullptr);
    frame->SetStatusText(STATUS_KEY_HOVER, "Another item");
    gApp.OnItemLeave(AsItem(&item));
    EXPECT_EQ(HoverText(frame), "Another item");   // no longer the hovered item
    DestroyFrameWindows();
}

TEST_F(ItemEvents, MouseMoveMakesTheItemHotButNotWhileABarMenuIsOpen)
{
    gApp.AddCommand(350, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    FakeItem onBar = MakeItem(350);
    gApp.OnItemMouseMove(AsItem(&onBar));
    EXPECT_EQ(Flags(350) & (CMDF_HOT | CMDF_PRESSED), (uint32_t)CMDF_HOT);
    gApp.OnItemLeave(AsItem(&onBar));
    gApp.menuOpen = 1;
    gApp.OnItemMouseMove(AsItem(&onBar));
    EXPECT_EQ(Flags(350) & CMDF_HOT, 0u);
    FakeItem inMenu = MakeItem(350, true);
    gApp.OnItemMouseMove(AsItem(&inMenu));
    EXPECT_EQ(Flags(350) & CMDF_HOT, (uint32_t)CMDF_HOT);
}

TEST_F(ItemEvents, MovingAlongAMenuBarSwitchesMenus)
{
    gApp.AddCommand(360, CMD_MENU, 0, 0, 0, 0, 0, 0);
    gApp.AddCommand(361, CMD_MENU, 0, 0, 0, 0, 0, 0);
    FakeItem first = MakeItem(360);
    FakeItem second = MakeItem(361);
    gApp.menuOpen = 1;
    Answers().openMenu = (LRESULT)AsItem(&first);
    gApp.OnItemMouseMove(AsItem(&second));
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0], AsItem(&first));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], AsItem(&second));
    // Over the item whose popup is open nothing closes or opens.
    gApp.OnItemMouseMove(AsItem(&first));
    EXPECT_EQ(closed.size(), 1u);
    EXPECT_EQ(opened.size(), 1u);
}
