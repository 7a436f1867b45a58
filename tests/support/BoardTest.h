// BoardTest.h - the base of every test suite that runs on the virtual board.
//
// Each test starts on a board reset to its power-on state as far as tests
// can change it (vb::resetBoard: faults, counters, logs, GPIO levels,
// plug-in overrides, faked free space), and must leave behind no board
// descriptor or mapping it did not find: the tear-down checks both against
// what was open when the test began (a suite may keep one initialised device
// open across its tests).  Faults are set through ScopedFault and
// ScopedServiceFault, which clear themselves.
#ifndef VYX_TEST_BOARD_TEST_H
#define VYX_TEST_BOARD_TEST_H

#include <gtest/gtest.h>

#include "VyxBoard.h"

namespace vyxtest {

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        vb::resetBoard();
        m_descriptors = vb::openNodeDescriptors();
        m_mappings = vb::liveNodeMappings();
    }
    void TearDown() override {
        vb::resetBoard();
        EXPECT_EQ(vb::openNodeDescriptors(), m_descriptors) << "a board descriptor was left open";
        EXPECT_EQ(vb::liveNodeMappings(), m_mappings) << "a board mapping was left in place";
    }

private:
    int m_descriptors = 0;
    int m_mappings = 0;
};

// A fault on one operation of one node for the life of the object.
class ScopedFault {
public:
    ScopedFault(vb::Node node, vb::Op op, const vb::Fault& fault) : m_node(node), m_op(op) {
        vb::setFault(node, op, fault);
    }
    ~ScopedFault() { vb::clearFault(m_node, m_op); }
    ScopedFault(const ScopedFault&) = delete;
    ScopedFault& operator=(const ScopedFault&) = delete;

private:
    vb::Node m_node;
    vb::Op m_op;
};

// A failing process service (thread or semaphore creation) for the life of
// the object.
class ScopedServiceFault {
public:
    ScopedServiceFault(vb::Service service, const vb::Fault& fault) : m_service(service) {
        vb::setServiceFault(service, fault);
    }
    ~ScopedServiceFault() { vb::clearServiceFault(m_service); }
    ScopedServiceFault(const ScopedServiceFault&) = delete;
    ScopedServiceFault& operator=(const ScopedServiceFault&) = delete;

private:
    vb::Service m_service;
};

}  // namespace vyxtest

#endif
