// The example host of the README runs against the registered filter and reports the format
// it chose the way capture tools do, the buffers it asked for and a stream that carried them.
#include <gtest/gtest.h>

#include <cstdio>

#include "render/ToolRunner.h"

namespace
{
TEST(ExampleHost, ChoosesItsFormatAndBuffersAndStreams)
{
    ASSERT_EQ(Regsvr32(true), 0u);
    CScratchDir dir;
    const CToolRun run = RunProgram(BinDir() + L"\\tonewell-example.exe", {}, dir.Path());
    ASSERT_EQ(run.dwExit, 0u) << run.out << run.err;
    EXPECT_NE(run.out.find("Format: 2 channels, 24 bits, 44100 Hz\r\n"), std::string::npos) << run.out;

    // 20 ms of 44100 Hz stereo of 24 bits: 882 frames of 6 bytes.
    long nBuffers = 0, cbBuffer = 0;
    const size_t nAt = run.out.find("Buffers: ");
    ASSERT_NE(nAt, std::string::npos) << run.out;
    ASSERT_EQ(sscanf(run.out.c_str() + nAt, "Buffers: %ld of %ld bytes", &nBuffers, &cbBuffer), 2) << run.out;
    EXPECT_GE(nBuffers, 8);
    EXPECT_EQ(cbBuffer, 5292);

    // Every sample a whole buffer, stamped on from the first by its frames.
    long nSamples = 0, cbTotal = 0, cbLast = 0;
    double dblFirstStart = 0, dblLastStop = 0;
    const size_t nReceived = run.out.find("Received: ");
    ASSERT_NE(nReceived, std::string::npos) << run.out;
    ASSERT_EQ(sscanf(run.out.c_str() + nReceived, "Received: %ld samples, %ld bytes, the last of %ld bytes; times %lf s to %lf s",
                     &nSamples, &cbTotal, &cbLast, &dblFirstStart, &dblLastStop),
              5)
        << run.out;
    EXPECT_GT(nSamples, 0);
    EXPECT_EQ(cbTotal, nSamples * 5292);
    EXPECT_EQ(cbLast, 5292);
    EXPECT_NEAR(dblLastStop - dblFirstStart, nSamples * 0.02, 0.0015);
}
}
