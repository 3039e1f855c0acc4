// A mutation loop over the protocol reader: malformed lines, numbers at and beyond their
// bounds, cut and oversized payloads. Whatever comes in, the worker answers with well-formed
// reply lines and never crashes (run in the sanitizer build as well).
#include "FakeBackend.h"
#include "WorkerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace vsthost_test;

namespace
{
std::string payload (std::size_t floats)
{
    std::string bytes (floats * 4, '\0');

    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char> ((i * 37) & 0x3F);

    return bytes;
}

/** The conversations that are mutated; a file the protocol may write goes to `folder`. */
std::vector<std::string> seedsWritingTo (const TempFolder& folder)
{
    return {
        "PING\nLOAD_VST3\tp\t0123456789ABCDEF0123456789ABCDEF\nCONFIG\t48000\t2\t64\trealtime\n"
        "PROCESS_F32_BUFFER\t1\t16\t2\t128\n" + payload (32) + "INFO\nPARAMS\nLIVE_STATUS\n",
        "LOAD_VST3\tp\t0123456789ABCDEF0123456789ABCDEF\nSET_PARAM\t1\t0.5\nSAVE_STATE\nLOAD_STATE\t4f56535433533200\n"
        "BYPASS\t1\nRESET_SEEK\nFLUSH_PARAMS\nSERVICE_CONTROL\nEDITOR_STATUS\n",
        "OPEN_EDITOR_ASYNC\tt\nCLOSE_EDITOR_ASYNC\nSCAN_VST3\tany\nSCAN_VST3\tbroken\nPROCESS_F32_FILE\t" + folder.file ("missing") + "\t"
            + folder.file ("out") + "\t1\t2\n",
        "LOAD_VST3\tp\t0123456789ABCDEF0123456789ABCDEF\nPROCESS_F32_BUFFER\tt\t3\t2\t24\n" + payload (6)
            + "PROCESS_F32_BUFFER\tt\t2147483648\t2\t0\nCONFIG\t1e999\t2\t512\nQUIT\n",
    };
}

const std::vector<std::string> interesting {
    "\t", "\n", "\r", "", "0", "-1", "+", "4294967295", "4294967296", "18446744073709551615", "18446744073709551616",
    "8388608", "8388609", "2147483648", "1e999", "nan", "inf", "0x", "-0", "PROCESS_F32_BUFFER", "LOAD_STATE", "CONFIG",
    "QUIT", std::string (1, '\0'), "\xff\xfe",
};

std::string mutate (std::string text, std::mt19937& random)
{
    const auto mutations = 1 + random() % 6;

    for (unsigned m = 0; m < mutations; ++m)
    {
        const auto position = text.empty() ? 0 : random() % (text.size() + 1);

        switch (random() % 6)
        {
            case 0:
                if (! text.empty())
                    text[position % text.size()] = static_cast<char> (random());
                break;
            case 1:
                text.insert (position, interesting[random() % interesting.size()]);
                break;
            case 2:
                text.erase (position, random() % 16);
                break;
            case 3:
                text.insert (position, text.substr (random() % (text.size() + 1), random() % 64));
                break;
            case 4:
                text.resize (position);
                break;
            default:
            {
                // Replace a field with an interesting value.
                const auto tab = text.find ('\t', position);

                if (tab != std::string::npos)
                {
                    const auto end = text.find_first_of ("\t\n", tab + 1);
                    text.replace (tab + 1, (end == std::string::npos ? text.size() : end) - tab - 1,
                                  interesting[random() % interesting.size()]);
                }
            }
        }
    }

    return text;
}

/** Every reply line starts with a reply word; BINARY payloads are skipped by their length. */
bool wellFormed (const std::string& output, std::string& problem)
{
    std::size_t position = 0;

    while (position < output.size())
    {
        const auto lf = output.find ('\n', position);

        if (lf == std::string::npos)
        {
            problem = "unterminated line";
            return false;
        }

        const auto line = output.substr (position, lf - position);
        position = lf + 1;

        if (line.rfind ("BINARY\t", 0) == 0)
        {
            position += static_cast<std::size_t> (std::stoull (line.substr (line.rfind ('\t') + 1)));
            continue;
        }

        if (line != "OK" && line.rfind ("OK\t", 0) != 0 && line.rfind ("ERR\t", 0) != 0 && line.rfind ("CLASS\t", 0) != 0
            && line.rfind ("PARAM\t", 0) != 0)
        {
            problem = "unexpected line: " + line.substr (0, 80);
            return false;
        }
    }

    return true;
}
} // namespace

TEST (ProtocolFuzz, MutatedConversationsAlwaysGetWellFormedReplies)
{
    const TempFolder folder;
    const auto seeds = seedsWritingTo (folder);
    std::mt19937 random (20240531);
    std::size_t replyLines = 0;
    std::size_t processedBlocks = 0;

    for (int iteration = 0; iteration < 4000; ++iteration)
    {
        const auto input = mutate (seeds[static_cast<std::size_t> (iteration) % seeds.size()], random);
        ProtocolHarness harness;
        harness.prepareLoaded = [] (FakeBackend& backend)
        {
            backend.parameterRecords = { { 1, "Gain", "G", 0, 0.5, 1 } };
        };

        const auto output = harness.run (input);
        harness.runPosted();
        std::string problem;
        ASSERT_TRUE (wellFormed (output, problem)) << problem << " (iteration " << iteration << ")";
        replyLines += static_cast<std::size_t> (std::count (output.begin(), output.end(), '\n'));
        processedBlocks += harness.slot != nullptr ? harness.backend->chunkFrames.size() : 0;
    }

    // The loop really went through the protocol: many replies, audio among them.
    EXPECT_GT (replyLines, 20000u);
    EXPECT_GT (processedBlocks, 200u);
}
