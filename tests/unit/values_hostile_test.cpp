// No value text, however long or strange, writes outside its variable.
#include "apps/common/introspection/setters.h"
#include "values_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace {
std::vector<std::string> hostileTexts() {
    return {std::string(10240, 'x'),
            std::string(10240, 'f'),
            "0x" + std::string(10000, 'f'),
            std::string(10000, '9'),
            "\xff\xfe\xc3\x28\xed\xa0\x80",
            std::string("ab\0cd", 5),
            "nan",
            "-nan",
            "1e99",
            "0x",
            "-",
            "%s%n%x",
            "\"\\",
            ""};
}

class HostileValues : public StoreTest {
protected:
    BrokerStub broker;
};
}  // namespace

TEST_F(HostileValues, EveryVariableKeepsTextWritesInsideItsBytes) {
    std::vector<std::string> const texts = hostileTexts();
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
            // Structure setters take a raw image, never text.
            if (Introspection::getVarBaseType(mem, var) == TypeStruct) continue;
            for (std::string const& text : texts) {
                StoreSnapshot before({mem, var});
                EXPECT_NO_THROW(Introspection::setVarValue(mem, var, text.c_str()))
                    << Introspection::getVarName(mem, var);
                EXPECT_EQ(before.changedOutside({mem, var}), "")
                    << Introspection::getVarName(mem, var) << " <- " << text.substr(0, 20);
                EXPECT_NO_THROW(Introspection::getVarValue(mem, var, 0));
                broker.takePosted();
            }
        }
    }
}

TEST_F(HostileValues, StructFieldTextsStayInsideTheirElement) {
    std::vector<std::string> const texts = hostileTexts();
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
            VariableInfo const& info = Introspection::variable(mem, var);
            if (info.baseType != TypeStruct) continue;
            int last = info.isArray ? std::stoi(info.arrayLength) - 1 : 0;
            for (StructInfo const& field : *info.structInfo) {
                for (std::string const& text : texts) {
                    StoreSnapshot before({mem, var});
                    try {
                        Introspection::setVarValueJson(mem, var, {{field.name, {text, false}}}, last);
                    } catch (std::invalid_argument const&) {
                    } catch (std::out_of_range const&) {
                    }
                    EXPECT_EQ(before.changedOutside({mem, var}, last), "")
                        << info.name << "." << field.name << " <- " << text.substr(0, 20);
                    broker.takePosted();
                }
            }
            EXPECT_NO_THROW(Introspection::getVarValue(mem, var, last));
        }
    }
}

TEST_F(HostileValues, FullStringFieldsAreReadWithoutRunningOn) {
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
            if (Introspection::getVarBaseType(mem, var) != TypeString) continue;
            StoreSnapshot before({mem, var});
            before.fill('S');
            std::size_t capacity = std::stoul(Introspection::getVarArrayLen(mem, var));
            EXPECT_EQ(Introspection::getVarValue(mem, var, 0).size(), capacity) << Introspection::getVarName(mem, var);
            before.restore();
        }
    }
}
