// Findings of the fuzz targets (fuzz/) that concern common code.

#include "common/jsontext.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using Tavrix::Common::JsonText;

// Qt 5's JSON parser never frees the earlier value of a repeated member when
// that value is an object or an array (found by fuzz_cabletable with
// {"ame":[{}],"ame":""}); text from clients is checked for repeated members
// before it is parsed. The check must see every repeat the parser sees, and
// nothing else.
TEST(JsonTextRepeatedMember, FindsRepeatsAsTheParserComparesNames)
{
    struct Case
    {
        const char* text;
        bool repeated;
    };
    const Case cases[] = {
        {R"({"ame":[{}],"ame":""})", true},
        {R"({"cmd":"GetTime","uid":1,"uid":2})", true},
        {R"({"a":{"x":1,"y":{"z":[1,{"q":0,"q":1}]}}})", true},       // deep inside
        {R"({"cmd":"x","\u0063md":"y"})", true},                       // same name once unescaped
        {R"({"a\"b":1,"a\u0022b":2})", true},
        {R"({"\ud83d\ude00":1,"😀":2})", true},                        // surrogate pair vs UTF-8
        {"{\"a\" : 1 ,\n \"a\" : 2}", true},
        // Escapes the parser takes leniently (found by fuzz_cabletable): the
        // byte itself, one above 0x7F as a sign-extended code point.
        {R"({"a\q":1,"aq":2})", true},
        {R"({"cmd":"x\q","uid":1,"cmd":"y"})", true},
        {"{\"a\\\xaa\":{},\"a\\\xaa\":1}", true},
        {R"({"a\q":1,"ar":2})", false},
        {R"({"cmd":"x","data":{"cmd":1}})", false},                    // different objects
        {R"([{"a":1},{"a":2}])", false},                               // siblings in an array
        {R"({"a":"a","b":"a"})", false},                               // repeated values
        {R"({"a":["a","a"]})", false},
        {R"({"ab":1,"a\u0062c":2})", false},
        {R"({"A":1,"a":2})", false},                                   // names are case-sensitive
        {R"({"a":{},"b":{}})", false},
        {"", false},
        {"{\"a", false},                                               // cut off: the parser refuses it
        {"}}]]{\"a\":1,\"a\"", true},                                  // repeat before the damage
    };
    for (const Case& c : cases)
        EXPECT_EQ(JsonText::hasRepeatedMember(QByteArray(c.text)), c.repeated) << c.text;
}

// The check agrees with the parser on valid documents: where it finds no
// repeat, parsing and writing back keep every member.
TEST(JsonTextRepeatedMember, NoRepeatMeansNothingIsDroppedByTheParser)
{
    for (const char* text : {R"({"a":1,"b":{"a":2,"c":[{"a":3}]}})", R"({"\u00e9":1,"é":2})", R"({"x\ny":1,"x\u000Ay":2})",
                             R"({"a\q":1,"aq":2})", R"({"a\q":1,"ar":2})", "{\"a\\\xaa\":1,\"a\\\xaa\":2}",
                             "{\"a\\\xaa\":1,\"a\\\xab\":2}"}) {
        const bool repeated = JsonText::hasRepeatedMember(QByteArray(text));
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text));
        ASSERT_TRUE(document.isObject()) << text;
        const int written = QJsonDocument(document).toJson(QJsonDocument::Compact).count(':');
        const int given = QByteArray(text).count(':');
        EXPECT_EQ(repeated, written < given) << text;
    }
}
