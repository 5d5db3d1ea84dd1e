// The system VISA library and linux-gpib, each loaded at run time, against
// test doubles built with the tests (see doubles/).
#include "visa/BuiltinResourceManager.h"
#include "visa/Error.h"
#include "visa/GpibTransport.h"
#include "visa/ResourceManagers.h"
#include "visa/SystemVisaResourceManager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorText.h"
#include <cstdlib>
#include <dlfcn.h>
#include <functional>

namespace {

using visa::testing::errorOf;

using ::testing::HasSubstr;

// Points a library variable at a file for the life of the object.
class ScopedLibrary {
public:
    ScopedLibrary(const char* variable, const char* path) : m_variable(variable) { ::setenv(variable, path, 1); }
    ~ScopedLibrary() { ::unsetenv(m_variable); }

private:
    const char* m_variable;
};

// The double's own inspection functions, reached through a second handle on
// the same loaded library (dlopen of the same file shares its state).
class DoubleProbe {
public:
    explicit DoubleProbe(const char* path) : m_handle(::dlopen(path, RTLD_NOW)) {}
    ~DoubleProbe()
    {
        if (m_handle)
            ::dlclose(m_handle);
    }
    template <typename Function>
    Function* get(const char* name) const
    {
        return reinterpret_cast<Function*>(::dlsym(m_handle, name));
    }

private:
    void* m_handle;
};

constexpr std::uint32_t kAttrTimeout = 0x3FFF001A;
constexpr std::uint32_t kAttrBaud = 0x3FFF0021;
constexpr std::uint32_t kAttrDataBits = 0x3FFF0022;
constexpr std::uint32_t kAttrDtrState = 0x3FFF00B2;

TEST(SystemVisa, MissingOrIncompleteLibraryIsTurnedDown)
{
    {
        ScopedLibrary visa(visa::kVisaLibraryVariable, "/nonexistent/libvisa.so.0");
        // Named by the user: no fall-back to the built-in manager (a ChosenLibraryError).
        EXPECT_THROW(visa::createResourceManager("VISA.GlobalRM"), visa::ChosenLibraryError);
        EXPECT_THAT(errorOf([] { visa::createResourceManager("VISA.GlobalRM"); }),
                    HasSubstr("VANTREL_VISA_LIBRARY names /nonexistent/libvisa.so.0, which cannot be used ("));
    }
    ScopedLibrary visa(visa::kVisaLibraryVariable, FAKE_VISA_INCOMPLETE_LIBRARY);
    EXPECT_THAT(errorOf([] { visa::createResourceManager("VISA.GlobalRM"); }), HasSubstr("lacks viStatusDesc"));
}

class SystemVisaTest : public ::testing::Test {
protected:
    ScopedLibrary library{visa::kVisaLibraryVariable, FAKE_VISA_LIBRARY};
    DoubleProbe probe{FAKE_VISA_LIBRARY};
    std::unique_ptr<visa::ResourceManager> manager = visa::createResourceManager("VISA.GlobalRM");

    long long attribute(std::uint32_t id) const
    {
        return probe.get<long long(std::uint32_t)>("fake_visa_attribute")(id);
    }
    std::string lastWrite() const { return probe.get<const char*()>("fake_visa_last_write")(); }
};

TEST_F(SystemVisaTest, FindsWithTheLibrarysOwnSearchAndOrder)
{
    EXPECT_EQ(manager->findRsrc("(GPIB|ASRL)[0-9][^0]?*INSTR"),
              (std::vector<std::string>{"ASRL3::INSTR", "GPIB0::7::INSTR", "GPIB0::9::INSTR"}));
    EXPECT_STREQ(probe.get<const char*()>("fake_visa_last_expression")(), "(GPIB|ASRL)[0-9][^0]?*INSTR");
    EXPECT_TRUE(manager->findRsrc("NOTHING?*").empty()) << "\"not found\" is an empty list, not a failure";
}

TEST_F(SystemVisaTest, SerialSessionIsSetUpThroughAttributes)
{
    auto session = manager->open("ASRL3::INSTR", 0, 5000, "");
    EXPECT_EQ(session->hardwareInterfaceType(), visa::kInterfaceSerial);
    ASSERT_NE(session->serial(), nullptr);
    EXPECT_EQ(session->gpib(), nullptr);
    session->serial()->setBaudRate(38400);
    session->serial()->setDataBits(8);
    session->serial()->setDtrAsserted(true);
    session->setTimeout(2000);
    EXPECT_EQ(attribute(kAttrBaud), 38400);
    EXPECT_EQ(attribute(kAttrDataBits), 8);
    EXPECT_EQ(attribute(kAttrDtrState), 1);
    EXPECT_EQ(attribute(kAttrTimeout), 2000);

    EXPECT_EQ(session->writeString("*RST\n"), 5);
    EXPECT_EQ(lastWrite(), "*RST\n");
    EXPECT_EQ(session->readString(255), "FAKE,*RST\n");
    session->writeString("*RST\n");
    EXPECT_EQ(session->readString(4), "FAKE") << "at most the requested count";
}

class LinuxGpibTest : public ::testing::Test {
protected:
    ScopedLibrary library{visa::kGpibLibraryVariable, FAKE_GPIB_LIBRARY};
    DoubleProbe probe{FAKE_GPIB_LIBRARY};
    visa::BuiltinResourceManager manager;

    std::vector<int> ibdevArguments() const
    {
        std::vector<int> arguments(6);
        probe.get<void(int*)>("fake_gpib_ibdev_arguments")(arguments.data());
        return arguments;
    }
};

TEST_F(LinuxGpibTest, AddressesReachIbdevAsLinuxGpibWantsThem)
{
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"GPIB0::5::INSTR", {0, 5, 0, 12, 1, 0}},
        {"GPIB::5", {0, 5, 0, 12, 1, 0}},
        {"gpib1::22::INSTR", {1, 22, 0, 12, 1, 0}},
        {"GPIB2::7::3::INSTR", {2, 7, 0x63, 12, 1, 0}},
    };
    for (const auto& [resource, expected] : cases) {
        auto session = manager.open(resource, 0, 5000, "");
        EXPECT_EQ(ibdevArguments(), expected) << resource;
        EXPECT_EQ(session->hardwareInterfaceType(), visa::kInterfaceGpib);
    }
}

} // namespace
