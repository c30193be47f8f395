// METAR decoding: every group kind, malformed and overlong input, the
// humidity formula and the weather condition codes.
#include "testutil.h"

#include "earth/labels.h"
#include "earth/metar.h"

static MetarReport Decode(const std::string &text, int expected = METAR_OK)
{
    MetarReport r;
    EXPECT_EQ(expected, DecodeMetar(text.c_str(), &r)) << text;
    return r;
}

static int Condition(const std::string &body)
{
    MetarReport r = Decode("METAR EDDF 121150Z 27012KT 9999 " + body + " 12/08 Q1013");
    return WeatherConditionCode(&r);
}

TEST(Metar, FullReport)
{
    MetarReport r = Decode("METAR EDDF 121150Z 27012G25KT 9999 -SHRA BKN030 12/08 Q1013");
    EXPECT_STREQ("METAR", r.reportType);
    EXPECT_STREQ("EDDF", r.station);
    EXPECT_EQ(12, r.day);
    EXPECT_EQ(11, r.hour);
    EXPECT_EQ(50, r.minute);
    EXPECT_EQ(270, r.windDirection);
    EXPECT_EQ(12, r.windSpeed);
    EXPECT_EQ(25, r.windGust);
    EXPECT_STREQ("KT", r.windUnits);
    EXPECT_EQ(9999.0f, r.visibilityMetres);
    EXPECT_STREQ("-SHRA", r.weather[0]);
    EXPECT_STREQ("BKN", r.cloud[0].cover);
    EXPECT_STREQ("030", r.cloud[0].heightDigits);
    EXPECT_EQ(900, r.cloud[0].heightMetres);
    EXPECT_EQ(12, r.temperature);
    EXPECT_EQ(8, r.dewPoint);
    EXPECT_EQ(1013, r.qnh);
    EXPECT_EQ(1, r.hasQnh);
    EXPECT_EQ(0, r.hasAltimeter);
    EXPECT_EQ(METAR_MISSING_INCHES, r.altimeter);
    EXPECT_EQ(520, WeatherConditionCode(&r));
    EXPECT_NEAR(76.4870, RelativeHumidity(&r), 1e-3);
}

TEST(Metar, HeaderGroupsAndFlags)
{
    MetarReport r = Decode("SPECI KJFK COR 1151Z AUTO 00000KT 10SM CLR 22/M02 A2992");
    EXPECT_STREQ("SPECI", r.reportType);
    EXPECT_EQ(1, r.isCorrected);
    EXPECT_EQ(1, r.isAuto);
    EXPECT_EQ(METAR_MISSING_INT, r.day);
    EXPECT_EQ(11, r.hour);
    EXPECT_EQ(51, r.minute);
    EXPECT_EQ(0, r.windDirection);
    EXPECT_EQ(0, r.windSpeed);
    EXPECT_EQ(METAR_MISSING_INT, r.windGust);
    EXPECT_EQ(10.0f, r.visibilityMiles);
    EXPECT_STREQ("CLR", r.cloud[0].cover);
    EXPECT_EQ(-2, r.dewPoint);
    EXPECT_NEAR(29.92, r.altimeter, 1e-9);
    EXPECT_EQ(1, r.hasAltimeter);
    EXPECT_EQ(800, WeatherConditionCode(&r));

    // As the updater cuts it: no report type, station first.
    r = Decode("EGLL 121150Z CAVOK 05/M01 Q0998");
    EXPECT_STREQ("", r.reportType);
    EXPECT_STREQ("EGLL", r.station);
    EXPECT_EQ(1, r.isCavok);
    EXPECT_EQ(998, r.qnh);

    r = Decode("METAR EDDF 121150Z NIL");
    EXPECT_EQ(1, r.isNil);
    EXPECT_EQ(999, WeatherConditionCode(&r));   // nothing observed, not a clear sky
}

TEST(Metar, ErrorsResetTheRecord)
{
    MetarReport r;
    memset(&r, 0x55, sizeof r);
    EXPECT_EQ(METAR_NO_TEXT, DecodeMetar(0, &r));
    EXPECT_EQ(METAR_MISSING_INT, r.temperature);
    EXPECT_EQ(METAR_MISSING_FLOAT, r.visibilityKm);
    EXPECT_EQ(METAR_NO_TEXT, DecodeMetar("", &r));

    memset(&r, 0x55, sizeof r);
    EXPECT_EQ(METAR_BAD_STATION, DecodeMetar("METAR 1EDF 121150Z 27012KT", &r));
    EXPECT_STREQ("", r.reportType);
    EXPECT_EQ(METAR_MISSING_INT, r.windSpeed);
    EXPECT_EQ(METAR_MISSING_INT, r.runway[11].minRange);
    EXPECT_EQ(METAR_MISSING_INT, r.cloud[5].heightMetres);
    Decode("METAR EDF 121150Z", METAR_BAD_STATION);
    Decode("EDDFX 121150Z", METAR_BAD_STATION);
    Decode("2024/01/12 11:50 EDDF 121150Z", METAR_BAD_STATION);
    Decode("METAR", METAR_BAD_STATION);
    Decode("   \r\n ", METAR_NO_TEXT);

    // Only type and station: all missing, no clouds and no weather.
    r = Decode("METAR LFPG");
    EXPECT_EQ(METAR_MISSING_INT, r.day);
    EXPECT_EQ(METAR_MISSING_FLOAT, RelativeHumidity(&r));
    EXPECT_EQ(800, WeatherConditionCode(&r));
}

TEST(Metar, WindForms)
{
    struct { const char *station, *group, *units; int direction, speed, gust; } cases[] = {
        {"EDDF", "27010KT", "KT", 270, 10, METAR_MISSING_INT},
        {"EDDF", "270120G150KT", "KT", 270, 120, 150},
        {"UUEE", "18005MPS", "MPS", 180, 5, METAR_MISSING_INT},
        {"LIRF", "09020G35KMH", "KMH", 90, 20, 35},
        {"EDDF", "VRB03KT", "KT", METAR_MISSING_INT, 3, METAR_MISSING_INT},
        {"EDDF", "VRB12G125KT", "KT", METAR_MISSING_INT, 12, 125},
        {"ZBAA", "VRB02MPS", "MPS", METAR_MISSING_INT, 2, METAR_MISSING_INT},
        // Without a unit the station's region decides.
        {"EDDF", "27012", "KT", 270, 12, METAR_MISSING_INT},
        {"ZBAA", "27012G18", "MPS", 270, 12, 18},
        {"UUEE", "27012", "", 270, 12, METAR_MISSING_INT},
        // Malformed: not a wind group.
        {"EDDF", "2701KT", "", METAR_MISSING_INT, METAR_MISSING_INT, METAR_MISSING_INT},
        {"EDDF", "27012MPH", "", METAR_MISSING_INT, METAR_MISSING_INT, METAR_MISSING_INT},
        {"EDDF", "27012G5KT", "", METAR_MISSING_INT, METAR_MISSING_INT, METAR_MISSING_INT},
        {"EDDF", "2701234KT", "", METAR_MISSING_INT, METAR_MISSING_INT, METAR_MISSING_INT},
        {"EDDF", "270123", "", METAR_MISSING_INT, METAR_MISSING_INT, METAR_MISSING_INT},
        {"EDDF", "VRBKT", "", METAR_MISSING_INT, METAR_MISSING_INT, METAR_MISSING_INT},
    };
    for (const auto &c : cases) {
        MetarReport r = Decode(std::string("METAR ") + c.station + " 121150Z " + c.group + " 9999");
        EXPECT_STREQ(c.units, r.windUnits) << c.group;
        EXPECT_EQ(c.direction, r.windDirection) << c.group;
        EXPECT_EQ(c.speed, r.windSpeed) << c.group;
        EXPECT_EQ(c.gust, r.windGust) << c.group;
        EXPECT_EQ(9999.0f, r.visibilityMetres) << c.group;
    }

    MetarReport r = Decode("METAR EDDF 121150Z ///// 240V300 9999");
    EXPECT_EQ(METAR_MISSING_INT, r.windSpeed);
    EXPECT_EQ(240, r.windVariableFrom);
    EXPECT_EQ(300, r.windVariableTo);
    EXPECT_EQ(9999.0f, r.visibilityMetres);
}

TEST(Metar, Visibility)
{
    MetarReport r = Decode("METAR EDDF 121150Z 27012KT 4000NE BKN010");
    EXPECT_EQ(4000.0f, r.visibilityMetres);
    EXPECT_STREQ("NE", r.visibilityDirection);
    r = Decode("METAR EDDF 121150Z 27012KT 0800S BKN010");
    EXPECT_EQ(800.0f, r.visibilityMetres);
    EXPECT_STREQ("S", r.visibilityDirection);
    r = Decode("METAR EDDF 121150Z 27012KT 9999NDV BKN010");
    EXPECT_EQ(9999.0f, r.visibilityMetres);
    EXPECT_STREQ("", r.visibilityDirection);
    r = Decode("METAR OMDB 121150Z 27012KT 10KM BKN010");
    EXPECT_EQ(10.0f, r.visibilityKm);
    r = Decode("METAR KBOS 121150Z 27012KT 1/2SM FG VV002");
    EXPECT_EQ(0.5f, r.visibilityMiles);
    EXPECT_EQ(60, r.verticalVisibility);
    EXPECT_EQ(741, WeatherConditionCode(&r));
    // Whole and fraction in two groups; the next group is still read.
    r = Decode("METAR KBOS 121150Z 27012KT 1 3/4SM BR OVC004");
    EXPECT_EQ(1.75f, r.visibilityMiles);
    EXPECT_STREQ("BR", r.weather[0]);
    EXPECT_EQ(120, r.cloud[0].heightMetres);
    // Malformed: a zero denominator, a five-digit group, a bad direction.
    for (const char *bad : {"1/0SM", "99999", "4000X", "1/SM", "12345KM"}) {
        r = Decode(std::string("METAR KBOS 121150Z 27012KT ") + bad + " OVC004");
        EXPECT_EQ(METAR_MISSING_FLOAT, r.visibilityMiles) << bad;
        EXPECT_EQ(METAR_MISSING_FLOAT, r.visibilityMetres) << bad;
        EXPECT_EQ(METAR_MISSING_FLOAT, r.visibilityKm) << bad;
        EXPECT_STREQ("OVC", r.cloud[0].cover) << bad;
    }
}

TEST(Metar, RunwayVisualRange)
{
    MetarReport r = Decode("METAR EDDF 121150Z 27012KT 0400 R24/P2000 R06L/0600N "
                           "R27R/M0050V0200FT FG");
    EXPECT_STREQ("R24", r.runway[0].designator);
    EXPECT_EQ(2000, r.runway[0].range);
    EXPECT_EQ(1, r.runway[0].above);
    EXPECT_EQ(0, r.runway[0].below);
    EXPECT_EQ(1, r.runway[0].metric);
    EXPECT_STREQ("R06L", r.runway[1].designator);
    EXPECT_EQ(600, r.runway[1].range);
    EXPECT_EQ(0, r.runway[1].variable);
    EXPECT_STREQ("R27R", r.runway[2].designator);
    EXPECT_EQ(1, r.runway[2].variable);
    EXPECT_EQ(1, r.runway[2].below);
    EXPECT_EQ(50, r.runway[2].minRange);
    EXPECT_EQ(200, r.runway[2].maxRange);
    EXPECT_EQ(METAR_MISSING_INT, r.runway[2].range);
    EXPECT_EQ(0, r.runway[2].metric);
    EXPECT_STREQ("", r.runway[3].designator);
    EXPECT_STREQ("FG", r.weather[0]);

    // Thirteen groups: twelve stored, nothing overrun, the rest still read.
    std::string text = "METAR EDDF 121150Z 27012KT 0400";
    for (int i = 0; i < 13; i++)
        text += " R" + std::to_string(10 + i) + "/0" + std::to_string(100 + i);
    r = Decode(text + " FG OVC001 M01/M01 Q1020");
    EXPECT_STREQ("R21", r.runway[11].designator);
    EXPECT_EQ(111, r.runway[11].range);
    EXPECT_STREQ("FG", r.weather[0]);
    EXPECT_EQ(-1, r.temperature);
    EXPECT_EQ(1020, r.qnh);

    for (const char *bad : {"R24/", "R2/1200", "R24LLL/1200", "R24/999999", "R24/1200V"}) {
        r = Decode(std::string("METAR EDDF 121150Z 27012KT 0400 ") + bad + " FG");
        EXPECT_STREQ("", r.runway[0].designator) << bad;
        EXPECT_STREQ("FG", r.weather[0]) << bad;
    }
}

TEST(Metar, PresentWeatherAndObscuration)
{
    MetarReport r = Decode("METAR EDDF 121150Z 27012KT 3000 +TSRAGR -RASN VCSH BR FEW/// "
                           "BKN000 SCT030CB");
    const char *expected[] = {"+TSRA", "GR", "-RA", "SN", "VCSH", "BR"};
    for (int i = 0; i < 6; i++)
        EXPECT_STREQ(expected[i], r.weather[i]);
    EXPECT_STREQ("", r.weather[6]);
    EXPECT_STREQ("FEW///", r.obscuration[0]);
    EXPECT_STREQ("BKN000", r.obscuration[1]);
    EXPECT_STREQ("SCT", r.cloud[0].cover);
    EXPECT_STREQ("CB", r.cloud[0].type);
    EXPECT_EQ(906, WeatherConditionCode(&r));

    // Obscuration only after weather; a half-known token stores nothing.
    r = Decode("METAR EDDF 121150Z 27012KT 3000 RAXX FEW/// 12/08");
    EXPECT_STREQ("", r.weather[0]);
    EXPECT_STREQ("", r.obscuration[0]);
    EXPECT_EQ(12, r.temperature);

    r = Decode("METAR EDDF 121150Z 27012KT 3000 // OVC010");
    EXPECT_STREQ("MISSING", r.weather[0]);
    EXPECT_EQ(804, WeatherConditionCode(&r));   // "MISSING" is no sandstorm

    // More phenomena than slots: ten stored, the rest dropped safely.
    r = Decode("METAR EDDF 121150Z 27012KT 3000 -RADZRADZRADZ SNSNSNSNSN BR OVC010");
    EXPECT_STREQ("-RA", r.weather[0]);
    EXPECT_STREQ("SN", r.weather[9]);
    EXPECT_STREQ("OVC", r.cloud[0].cover);
}

TEST(Metar, CloudLayers)
{
    MetarReport r = Decode("METAR EDDF 121150Z 27012KT 9999 FEW020 SCT035TCU BKN100 "
                           "OVC999 ////// SCT3SC FEW040 12/08");
    const char *covers[] = {"FEW", "SCT", "BKN", "OVC", "///", "SCT"};
    int metres[] = {600, 1050, 3000, 30000, METAR_MISSING_INT, 90};
    for (int i = 0; i < 6; i++) {
        EXPECT_STREQ(covers[i], r.cloud[i].cover) << i;
        EXPECT_EQ(metres[i], r.cloud[i].heightMetres) << i;
    }
    EXPECT_STREQ("TCU", r.cloud[1].type);
    EXPECT_STREQ("3", r.cloud[5].heightDigits);
    EXPECT_STREQ("SC", r.cloud[5].type);
    EXPECT_EQ(804, WeatherConditionCode(&r));
    // The seventh layer is skipped, the temperature after it still read.
    EXPECT_EQ(12, r.temperature);

    r = Decode("METAR EDDF 121150Z 27012KT 9999 BKN030CBCBCBCBCB NSC 12/08");
    EXPECT_STREQ("CBCBCB", r.cloud[0].type);    // cut to its field
    EXPECT_STREQ("", r.cloud[1].cover);
    r = Decode("METAR EDDF 121150Z 27012KT 9999 VV999 12/08");
    EXPECT_EQ(30000, r.verticalVisibility);
    for (const char *bad : {"BKN30", "OVC0300", "BKN///", "VV//", "XYZ030"}) {
        r = Decode(std::string("METAR EDDF 121150Z 27012KT 9999 ") + bad + " 12/08");
        EXPECT_STREQ("", r.cloud[0].cover) << bad;
        EXPECT_EQ(METAR_MISSING_INT, r.verticalVisibility) << bad;
        EXPECT_EQ(12, r.temperature) << bad;
    }
}

TEST(Metar, TemperatureAndPressure)
{
    struct { const char *group; int temperature, dewPoint; } cases[] = {
        {"M05/M12", -5, -12}, {"00/M00", 0, 0}, {"12///", 12, METAR_MISSING_INT},
        {"XX/08", METAR_MISSING_INT, 8}, {"aa/M03", METAR_MISSING_INT, -3},
        {"M01/XX", -1, METAR_MISSING_INT},
        {"XX/XX", METAR_MISSING_INT, METAR_MISSING_INT},
        {"1A/08", METAR_MISSING_INT, METAR_MISSING_INT},
        {"12/08/", METAR_MISSING_INT, METAR_MISSING_INT},
        {"/08", METAR_MISSING_INT, METAR_MISSING_INT},
    };
    for (const auto &c : cases) {
        MetarReport r = Decode(std::string("METAR EDDF 121150Z 27012KT 9999 FEW020 ") + c.group +
                               " Q1013");
        EXPECT_EQ(c.temperature, r.temperature) << c.group;
        EXPECT_EQ(c.dewPoint, r.dewPoint) << c.group;
        EXPECT_EQ(1013, r.qnh) << c.group;
    }

    MetarReport r = Decode("METAR EDDF 121150Z 27012KT 9999 12/08 Q1013.2");
    EXPECT_EQ(1013, r.qnh);
    r = Decode("METAR EDDF 121150Z 27012KT 9999 12/08 Q1013=");
    EXPECT_EQ(1013, r.qnh);
    for (const char *bad : {"Q////", "A299", "A29.92", "Q10135", "QNH"}) {
        r = Decode(std::string("METAR EDDF 121150Z 27012KT 9999 12/08 ") + bad);
        EXPECT_EQ(0, r.hasQnh) << bad;
        EXPECT_EQ(0, r.hasAltimeter) << bad;
        EXPECT_EQ(METAR_MISSING_INT, r.qnh) << bad;
    }
}

TEST(Metar, RemarksTrendsAndUnknownGroups)
{
    MetarReport r = Decode("METAR KJFK 121151Z 27012KT 10SM FEW250 RMK AO2 +TSRA 30/20 A3001");
    EXPECT_STREQ("", r.weather[0]);
    EXPECT_EQ(METAR_MISSING_INT, r.temperature);
    EXPECT_EQ(0, r.hasAltimeter);

    r = Decode("METAR EDDF 121150Z 27012KT 9999 FEW020 12/08 Q1013 NOSIG");
    EXPECT_EQ(1013, r.qnh);
    r = Decode("METAR EDDF 121150Z 27012KT 9999 FEW020 12/08 Q1013 TEMPO 4000 +TSRA BKN008");
    EXPECT_EQ(9999.0f, r.visibilityMetres);
    EXPECT_STREQ("", r.weather[0]);
    EXPECT_EQ(600, r.cloud[0].heightMetres);
    EXPECT_EQ(801, WeatherConditionCode(&r));

    // An unknown group is skipped; decoding goes on after the last match.
    r = Decode("METAR EDDF 121150Z 27012KT 9999 1500SW -RA BKN030 12/08 Q1013");
    EXPECT_STREQ("-RA", r.weather[0]);
    EXPECT_EQ(500, WeatherConditionCode(&r));
    r = Decode("EDDF\t121150Z\r\n27012KT  9999\n");
    EXPECT_EQ(12, r.windSpeed);
}

TEST(Metar, OverlongInput)
{
    std::string text = "METAR EDDF 121150Z 27012KT 9999";
    for (int i = 0; i < 2000; i++)
        text += " BKN030";
    MetarReport r = Decode(text + " 12/08");
    EXPECT_STREQ("BKN", r.cloud[5].cover);
    EXPECT_EQ(METAR_MISSING_INT, r.temperature);    // beyond the token limit

    std::string huge(100000, 'R');
    Decode("METAR EDDF 121150Z " + huge + " 9999");
    r = Decode("METAR EDDF 121150Z 27012KT 9999 " + std::string(5000, '+') + "RA " +
               std::string(5000, '9') + " R24/" + huge + " FEW" + huge + " 12/08");
    EXPECT_EQ(12, r.temperature);
    Decode("METAR " + huge, METAR_BAD_STATION);
}

TEST(Metar, RelativeHumidity)
{
    struct { int temperature, dewPoint; double percent; } cases[] = {
        {12, 8, 76.4870}, {20, 20, 100.0}, {30, 10, 28.9417},
        {-5, -12, 54.0303}, {2, -3, 67.4133}, {0, -10, 42.4796},
    };
    MetarReport r;
    resetMetarReport(&r);
    for (const auto &c : cases) {
        r.temperature = c.temperature;
        r.dewPoint = c.dewPoint;
        EXPECT_NEAR(c.percent, RelativeHumidity(&r), 1e-3) << c.temperature << "/" << c.dewPoint;
    }
    r.dewPoint = METAR_MISSING_INT;
    EXPECT_EQ(METAR_MISSING_FLOAT, RelativeHumidity(&r));
}

TEST(Metar, ConditionCodes)
{
    struct { const char *body; int code; } cases[] = {
        {"+TSRA", 202}, {"TSRA", 201}, {"-TSRA", 200}, {"TSGR", 906}, {"VCTS -DZ", 230},
        {"TS +DZ", 232}, {"-DZ", 300}, {"DZ", 301}, {"+DZ", 302}, {"FZRA", 511},
        {"-SHRA", 520}, {"SHRA", 521}, {"+SHRA", 522}, {"-RA", 500}, {"RA BR", 501},
        {"+RA", 502}, {"BR", 701}, {"FG", 741}, {"FU", 711}, {"VA", 762}, {"DU", 761},
        {"PO", 761}, {"SA", 761}, {"HZ", 721}, {"SQ", 771}, {"+FC", 781}, {"SS", 731},
        {"BR -RA", 500}, {"FEW020", 801}, {"SCT020 FEW010", 802},
        // Snow, grains and ice pellets pick the snow rows, not clouds or mist.
        {"SN OVC010", 601}, {"-SN BR", 600}, {"+SN", 602}, {"SG", 601}, {"-SG", 600},
        {"-SHSN BKN020", 620}, {"SHSN", 621}, {"+SHSN", 622}, {"-RASN", 615},
        {"RASN", 616}, {"+SNRA", 616}, {"-SN RA", 615}, {"-DZSN", 615}, {"PL", 611},
        {"RAPL", 611}, {"-SHPL", 612}, {"SHPE", 613}, {"-FZRA SN", 511}, {"TSSN", 201},
        {"TSPL", 906}, {"GS", 800},
        {"FEW010 BKN020", 803}, {"", 800},
    };
    for (const auto &c : cases) {
        int code = Condition(c.body);
        EXPECT_EQ(c.code, code) << c.body;
        // Every code has its row in the label table.
        EXPECT_EQ(code, kWeatherConditions[WeatherConditionIndex(code)].code) << c.body;
    }
}

TEST(Metar, PatternsAndIntensity)
{
    EXPECT_TRUE(matchPattern("//////", "'/''/''/''/''/''/'"));
    EXPECT_FALSE(matchPattern("/////", "'/''/''/''/''/''/'"));
    EXPECT_TRUE(matchPattern("VRB03KT", "'V''R''B'dd'K''T'"));
    EXPECT_TRUE(matchPattern("27012G25", "ddddd'G'dd"));
    EXPECT_TRUE(matchPattern("M05/XX", "'M'dd'/'aa"));
    EXPECT_TRUE(matchPattern("27012KT", "ddddd"));          // a prefix is enough
    EXPECT_TRUE(matchPattern("a1", "i c"));                 // blanks are skipped
    EXPECT_TRUE(matchPattern("Ab.~ \x01", "uagtsn"));
    EXPECT_TRUE(matchPattern(" \t\n x", "m'x'"));
    EXPECT_FALSE(matchPattern("x", "m"));
    EXPECT_TRUE(matchPattern("\t", "w"));
    EXPECT_FALSE(matchPattern("a", "q"));                   // unknown class
    EXPECT_FALSE(matchPattern("a", "'"));
    EXPECT_FALSE(matchPattern("\x80", "p"));
    EXPECT_FALSE(matchPattern(0, "d"));
    EXPECT_TRUE(matchPattern("", ""));

    EXPECT_EQ(1, weatherIntensity("-RA", "RA"));
    EXPECT_EQ(2, weatherIntensity("SHRA", "SH"));
    EXPECT_EQ(3, weatherIntensity("+TSRA", "TS"));
    EXPECT_EQ(0, weatherIntensity("-SN", "RA"));
    EXPECT_EQ(0, weatherIntensity("", "RA"));
}
