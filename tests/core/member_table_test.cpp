#include "board_fixture.h"

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
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

// One member as a line: "0x60030013 method a2d(Long pin) Long". The type library's declarations are
// read back into the same form.
std::string declared(const Member& m) {
    std::ostringstream line;
    line << "0x" << std::hex << std::uppercase << m.dispid << ' '
         << (m.kind == MemberKind::PropertyGet   ? "get"
             : m.kind == MemberKind::PropertyLet ? "let"
                                                 : "method")
         << ' ' << m.name << '(';
    for (size_t n = 0; n < m.params.size(); ++n)
        line << (n ? ", " : "") << (m.params[n].byRef ? "ByRef " : "") << typeName(m.params[n].type)
             << ' ' << m.params[n].name;
    line << ") " << (m.result == ValueType::None ? "None" : typeName(m.result));
    return line.str();
}

std::string automationType(const std::string& idl) {
    if (idl == "short")
        return "Integer";
    if (idl == "long")
        return "Long";
    if (idl == "VARIANT_BOOL")
        return "Boolean";
    if (idl == "VARIANT")
        return "Variant";
    return "(" + idl + ")";
}

std::vector<std::string> typeLibraryDeclarations() {
    std::ifstream in(ZELTO_IDL_PATH);
    const std::string idl{std::istreambuf_iterator<char>(in), {}};
    const std::regex member(
        R"(\[id\((0x[0-9A-Fa-f]+)\)(?:,\s*(propget|propput))?\]\s*HRESULT\s+(\w+)\(([^)]*)\);)");
    const std::regex param(R"(\[([^\]]*)\]\s*(\w+)\s*(\*?)\s*(\w+))");
    std::vector<std::string> lines;
    for (std::sregex_iterator m(idl.begin(), idl.end(), member), end; m != end; ++m) {
        std::string params, result = "None";
        const std::string list = (*m)[4];
        for (std::sregex_iterator p(list.begin(), list.end(), param); p != end; ++p) {
            const std::string attributes = (*p)[1], type = automationType((*p)[2]);
            if (attributes.find("retval") != std::string::npos) {
                result = type;
                continue;
            }
            params += (params.empty() ? "" : ", ") + std::string((*p)[3].length() ? "ByRef " : "") +
                      type + ' ' + (*p)[4].str();
        }
        std::string number = (*m)[1];
        for (char& c : number)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string kind = (*m)[2] == "propget"   ? "get"
                                 : (*m)[2] == "propput" ? "let"
                                                        : "method";
        lines.push_back("0x" + number.substr(2) + ' ' + kind + ' ' + (*m)[3].str() + '(' + params +
                        ") " + result);
    }
    return lines;
}

// The type library's interface is written by hand; it declares every member exactly as the member
// list does, in the same order.
TEST(MemberTableTest, TheTypeLibraryDeclaresEveryMemberAsTheListDoes) {
    std::vector<std::string> listed;
    for (const Member& m : memberTable())
        listed.push_back(declared(m));
    EXPECT_EQ(typeLibraryDeclarations(), listed);
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
