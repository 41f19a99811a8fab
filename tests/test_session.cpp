// Load, Unload, ClearTablet and LCDRefresh through the built control and the
// virtual pad: the states of a session, the two Load messages, the pad's
// coordinate range and scale factors.
#include "pad_session.h"

#include <cmath>
#include <string>

namespace {

const char noPadText[] = "There is no functional Scriptel signature pad connected.";
const char openFailedText[] =
    "There was an error \"opening\" the Scriptel signature pad.\n\n"
    "It is not known what causes this error.\n\n"
    "Try unplugging the pad and plugging it back in.";

void expectOneMessage(const LoadOutcome& outcome, const char* text)
{
    ASSERT_EQ(outcome.messages.size(), 1u);
    EXPECT_EQ(outcome.messages[0].text, text);
    EXPECT_FALSE(outcome.messages[0].owned);
}

} // namespace

using LoadTest = PadSessionTest;

TEST_F(LoadTest, FindsOpensMeasuresClearsAndClosesThePad)
{
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_STREQ(pad->DeviceName(), padName);
    EXPECT_EQ(pad->IsActive(), 1);
    EXPECT_EQ(pad->Width(), 15360);
    EXPECT_EQ(pad->Height(), 9600);
    EXPECT_DOUBLE_EQ(pad->PadToLCDScaleX(), 15360 / 65791.0);
    EXPECT_DOUBLE_EQ(pad->PadToLCDScaleY(), 15360 / 65791.0 * 1.25 / 4.4);
    EXPECT_EQ(callCounts(), (std::vector<long>{1, 1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(vpad_device()->isOpen, 0) << "Load leaves the pad closed until Start";
    EXPECT_EQ(sink.count(), 0u);
}

TEST_F(LoadTest, FullRangePadGivesTheKnownScaleFactors)
{
    vpad_set_coordinate_range(65535, 4000);
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_EQ(pad->Width(), 65535);
    EXPECT_DOUBLE_EQ(pad->PadToLCDScaleX(), 0.9961088902737456);
    EXPECT_DOUBLE_EQ(pad->PadToLCDScaleY(), 0.282985480191405);
}

TEST_F(LoadTest, ZeroInTheRangeFallsBackToTheDeviceExtentPerDimension)
{
    vpad_set_device_extent(3000, 2000);
    vpad_set_coordinate_range(0, 500);
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_EQ(pad->Width(), 3000);
    EXPECT_EQ(pad->Height(), 500);
    EXPECT_DOUBLE_EQ(pad->PadToLCDScaleX(), 3000 / 65791.0);
}

TEST_F(LoadTest, HeightFallsBackAsWell)
{
    vpad_set_device_extent(3000, 2000);
    vpad_set_coordinate_range(7000, 0);
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_EQ(pad->Width(), 7000);
    EXPECT_EQ(pad->Height(), 2000);
}

TEST_F(LoadTest, PadWithoutAnyRangeHasZeroSizeAndZeroScales)
{
    vpad_set_device_extent(0, 0);
    vpad_set_coordinate_range(0, 0);
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_EQ(pad->Width(), 0);
    EXPECT_EQ(pad->Height(), 0);
    EXPECT_EQ(pad->PadToLCDScaleX(), 0.0);
    EXPECT_EQ(pad->PadToLCDScaleY(), 0.0);
    EXPECT_TRUE(std::isnan(pad->HeightInInches()));
}

TEST_F(LoadTest, NoPadConnectedShowsMessageOneAndFails)
{
    vpad_unplug();
    LoadOutcome outcome = loadClosingMessages(pad.get());
    ASSERT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.result, 1);
    expectOneMessage(outcome, noPadText);
    EXPECT_EQ(pad->IsActive(), 1);
    EXPECT_STREQ(pad->DeviceName(), "ST-1500");
    EXPECT_EQ(pad->Width(), 0);
    EXPECT_EQ(pad->PadToLCDScaleX(), 1.0);
    EXPECT_EQ(callCounts(), (std::vector<long>{1, 0, 0, 0, 0, 0, 0}));

    // Load failed: Unload changes nothing, so the object stays active.
    EXPECT_EQ(pad->Unload(), 0);
    EXPECT_EQ(pad->IsActive(), 1);
    EXPECT_EQ(callCounts(), (std::vector<long>{1, 0, 0, 0, 0, 0, 0}));
}

TEST_F(LoadTest, PadThatDoesNotOpenShowsMessageTwoAndKeepsItsName)
{
    vpad_set_open_result(0);
    LoadOutcome outcome = loadClosingMessages(pad.get());
    ASSERT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.result, 1);
    expectOneMessage(outcome, openFailedText);
    EXPECT_STREQ(pad->DeviceName(), padName);
    EXPECT_EQ(pad->IsActive(), 1);
    EXPECT_EQ(pad->Width(), 0);
    EXPECT_EQ(callCounts(), (std::vector<long>{1, 1, 0, 0, 0, 0, 0}));

    // Once the pad opens, Load from the failed state succeeds.
    vpad_set_open_result(1);
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_EQ(pad->Width(), 15360);
}

TEST_F(LoadTest, OpenResultOtherThanExactlyOneIsAFailure)
{
    vpad_set_open_result(2);
    LoadOutcome outcome = loadClosingMessages(pad.get());
    ASSERT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.result, 1);
    expectOneMessage(outcome, openFailedText);
}

TEST_F(LoadTest, LoadOnALoadedObjectReturnsAtOnceWithoutLookingAgain)
{
    ASSERT_NO_FATAL_FAILURE(load());
    vpad_unplug();
    int services = 0;
    LoadOutcome outcome = loadClosingMessages(pad.get(), &services);
    ASSERT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(outcome.messages.empty());
    EXPECT_EQ(calls("scriptel_list_devices"), 1);
    EXPECT_STREQ(pad->DeviceName(), padName);
}

TEST_F(LoadTest, PadNameTooLongForTheFieldIsCutToFit)
{
    std::string longName(300, 'n');
    longName.replace(250, 10, "0123456789");
    const char* keptName = vpad_device()->name;
    vpad_device()->name = longName.c_str();
    LoadOutcome outcome = loadClosingMessages(pad.get());
    vpad_device()->name = keptName;
    ASSERT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(std::string(pad->DeviceName()), longName.substr(0, 259));
    EXPECT_STREQ(pad->DeviceModel(), "(ST-15000)") << "the field after the name is intact";
}

TEST_F(LoadTest, RangeRecordOfAnySizeALibraryMayReturnIsReadByItsTwoFields)
{
    // The object's frames are checked: a record written past the space Load
    // gave it ends the process here.
    for (unsigned size : {12u, 16u, 256u}) {
        ASSERT_EQ(vpad_set_range_record_size(size), 1);
        vpad_set_coordinate_range(static_cast<uint16_t>(1000 + size), static_cast<uint16_t>(500 + size));
        ComPtr<ISignaturePad> object = control().create();
        ASSERT_TRUE(object);
        LoadOutcome outcome = loadClosingMessages(object.get());
        ASSERT_EQ(outcome.result, 0) << size;
        EXPECT_EQ(object->Width(), static_cast<LONG>(1000 + size)) << size;
        EXPECT_EQ(object->Height(), static_cast<LONG>(500 + size)) << size;
        EXPECT_STREQ(object->DeviceModel(), "(ST-15000)");
    }
}

TEST_F(LoadTest, PadWithoutANameGivesAnEmptyName)
{
    const char* keptName = vpad_device()->name;
    vpad_device()->name = nullptr;
    LoadOutcome outcome = loadClosingMessages(pad.get());
    vpad_device()->name = keptName;
    ASSERT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_STREQ(pad->DeviceName(), "");
}

using SessionWithoutPadTest = PadSessionTest;

TEST_F(SessionWithoutPadTest, NewObjectCallsNothingInThePadLibrary)
{
    EXPECT_EQ(pad->Start(), 0);
    pad->ClearTablet();
    pad->LCDRefresh(1, 2, 3, 4, 5);
    EXPECT_EQ(pad->Stop(), 0);
    EXPECT_EQ(pad->Unload(), 0);
    EXPECT_EQ(callCounts(), (std::vector<long>{0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(pad->IsActive(), 0);
}

TEST_F(SessionWithoutPadTest, AfterLoadFoundNoPadNothingReachesThePadLibrary)
{
    vpad_unplug();
    LoadOutcome outcome = loadClosingMessages(pad.get());
    ASSERT_EQ(outcome.messages.size(), 1u);
    std::vector<long> afterLoad = callCounts();
    EXPECT_EQ(pad->Start(), 0);
    pad->ClearTablet();
    pad->LCDRefresh(0, 0, 0, 0, 0);
    EXPECT_EQ(pad->Stop(), 0);
    EXPECT_EQ(callCounts(), afterLoad);
}

using UnloadTest = PadSessionTest;

TEST_F(UnloadTest, NewObjectStaysNew)
{
    EXPECT_EQ(pad->Unload(), 0);
    EXPECT_EQ(pad->IsActive(), 0);
    EXPECT_EQ(callCounts(), (std::vector<long>{0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(UnloadTest, LoadedObjectClearsTwiceClosesAndKeepsWhatLoadFound)
{
    ASSERT_NO_FATAL_FAILURE(load());
    long clears = calls("scriptel_clear_screen");
    long closes = calls("scriptel_close_device");
    EXPECT_EQ(pad->Unload(), 0);
    EXPECT_EQ(calls("scriptel_clear_screen"), clears + 2);
    EXPECT_EQ(calls("scriptel_close_device"), closes + 1);
    EXPECT_EQ(pad->IsActive(), 0);
    EXPECT_STREQ(pad->DeviceName(), padName);
    EXPECT_EQ(pad->Width(), 15360);
    EXPECT_EQ(pad->Height(), 9600);
    EXPECT_DOUBLE_EQ(pad->PadToLCDScaleX(), 15360 / 65791.0);

    // Unloaded: a second Unload does nothing, and Load finds the pad again.
    std::vector<long> afterUnload = callCounts();
    EXPECT_EQ(pad->Unload(), 0);
    EXPECT_EQ(callCounts(), afterUnload);
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_EQ(calls("scriptel_list_devices"), 2);
    EXPECT_EQ(pad->IsActive(), 1);
}

TEST_F(UnloadTest, StoppedObjectClearsTwiceAndCloses)
{
    ASSERT_NO_FATAL_FAILURE(loadAndStart());
    EXPECT_EQ(pad->Stop(), 0);
    long clears = calls("scriptel_clear_screen");
    long closes = calls("scriptel_close_device");
    EXPECT_EQ(pad->Unload(), 0);
    EXPECT_EQ(calls("scriptel_clear_screen"), clears + 2);
    EXPECT_EQ(calls("scriptel_close_device"), closes + 1);
    EXPECT_EQ(pad->IsActive(), 0);
}

using DisplayTest = PadSessionTest;

TEST_F(DisplayTest, LCDRefreshWithAnyArgumentsOnlyClearsTheDisplay)
{
    ASSERT_NO_FATAL_FAILURE(load());
    std::vector<long> before = callCounts();
    pad->LCDRefresh(7, -1, 100000, 0x7fffffff, -5);
    std::vector<long> after = callCounts();
    before[3] += 1;
    EXPECT_EQ(after, before);
}

TEST_F(DisplayTest, ClearTabletClearsTheDisplayOnce)
{
    ASSERT_NO_FATAL_FAILURE(load());
    std::vector<long> before = callCounts();
    pad->ClearTablet();
    before[3] += 1;
    EXPECT_EQ(callCounts(), before);
    EXPECT_EQ(sink.count(), 0u);
}
