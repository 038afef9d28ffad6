#include "board_fixture.h"

#include <set>
#include <type_traits>

namespace zelto::test {
namespace {

// A row binds only to a member function of exactly its declared types: a row that disagrees with
// its implementation does not build.
static_assert(std::is_invocable_v<void (ZeltoDLL::*)(int32_t), ZeltoDLL&, Exactly<int32_t>>);
static_assert(!std::is_invocable_v<void (ZeltoDLL::*)(int32_t), ZeltoDLL&, Exactly<int16_t>>);
static_assert(!std::is_invocable_v<void (ZeltoDLL::*)(int16_t), ZeltoDLL&, Exactly<bool>>);
static_assert(std::is_invocable_v<void (ZeltoDLL::*)(const bool&), ZeltoDLL&, Exactly<bool>>);

TEST(MemberTableTest, EveryMemberInInterfaceOrder) {
    const auto& table = memberTable();
    ASSERT_EQ(table.size(), 36u);
    // Properties run from 0x68030000 to 0x68030008, methods from 0x60030012 to 0x60030023; a
    // property's let follows its get under the same identifier and ends with its New_ value.
    std::set<int32_t> methods;
    std::set<int32_t> properties;
    for (size_t i = 0; i < table.size(); ++i) {
        const Member& m = table[i];
        if (m.kind == MemberKind::Method) {
            methods.insert(m.dispid);
            EXPECT_EQ(m.dispid & 0xFFFFFF00, 0x60030000) << m.name;
        } else {
            properties.insert(m.dispid);
            EXPECT_EQ(m.dispid & 0xFFFFFFF0, 0x68030000) << m.name;
        }
        if (m.kind == MemberKind::PropertyLet) {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(table[i - 1].dispid, m.dispid);
            EXPECT_EQ(table[i - 1].kind, MemberKind::PropertyGet);
            EXPECT_EQ(std::string(m.params.back().name).rfind("New_", 0), 0u) << m.name;
            EXPECT_EQ(m.result, ValueType::None);
        }
    }
    EXPECT_EQ(methods.size(), 18u);
    EXPECT_EQ(*methods.begin(), 0x60030012);
    EXPECT_EQ(*methods.rbegin(), 0x60030023);
    EXPECT_EQ(properties.size(), 9u);
    EXPECT_EQ(table.front().name, std::string("CommPort"));
    EXPECT_EQ(table.back().name, std::string("a2dconf"));
    for (const Param& p : table.back().params)
        EXPECT_TRUE(p.byRef) << p.name;
}

TEST(MemberTableTest, LookUpByIdentifierAndKind) {
    const Member* eepromLet = findMember(dispid::eeprom, MemberKind::PropertyLet);
    ASSERT_NE(eepromLet, nullptr);
    EXPECT_STREQ(eepromLet->params[0].name, "add");
    EXPECT_STREQ(eepromLet->params[1].name, "New_eeprom");
    EXPECT_EQ(findMember(0x60030013, MemberKind::PropertyGet), nullptr);
    EXPECT_EQ(findMember(0x60030024, MemberKind::Method), nullptr);
}

class InvokeTest : public BoardTest {};

TEST_F(InvokeTest, CoercesArgumentsAndReportsCallErrors) {
    namespace d = dispid;
    const int32_t noMember = 0x60030099;
    EXPECT_EQ(call(d::CommPort, MemberKind::PropertyGet), Variant(int16_t{1}));
    call(d::CommPort, MemberKind::PropertyLet, {"3"});
    EXPECT_EQ(board->CommPort(), 3);
    EXPECT_EQ(errorOf([&] { call(d::CommPort, MemberKind::PropertyLet, {40000}); }), 6);
    EXPECT_EQ(errorOf([&] { call(noMember, MemberKind::Method); }), 438);
    EXPECT_EQ(errorOf([&] { call(d::high, MemberKind::Method); }), 450);
    EXPECT_EQ(errorOf([&] { call(d::high, MemberKind::Method, {1, 2}); }), 450);

    call(d::portopen, MemberKind::PropertyLet, {-1}); // True
    EXPECT_EQ(call(d::portopen, MemberKind::PropertyGet), Variant(true));
    EXPECT_EQ(call(d::ready, MemberKind::PropertyGet), Variant(true));
    EXPECT_EQ(errorOf([&] { call(d::ready, MemberKind::PropertyLet, {true}); }), 387);
    call(d::errflag, MemberKind::PropertyLet, {"True"});
    EXPECT_EQ(call(d::errflag, MemberKind::PropertyGet), Variant(true));
    // An argument that fails to convert stops the call before anything is sent.
    serial->clearWrites();
    EXPECT_EQ(errorOf([&] { call(d::pwm, MemberKind::Method, {0, 1, Variant::null()}); }), 94);
    EXPECT_TRUE(serial->writes().empty());
}

} // namespace
} // namespace zelto::test
