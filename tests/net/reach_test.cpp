// Reaching a hosted game: the invite code and its proof, the network preferences in the
// settings file, and the answers to players nearby (on 127.0.0.1 only: questions by broadcast
// are tested inside network namespaces, see router_test.sh).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "core/controls/settings.h"
#include "discovery/discovery.h"
#include "net/invite.h"
#include "net/local_network.h"
#include "net/preferences.h"
#include "router/port_opener.h"

namespace {

TEST(InviteCode, CodesAreReadableUniformAndSurviveHowPeopleTypeThem) {
    std::set<std::string> seen;
    std::map<char, int> letters;
    for (int i = 0; i < 2000; ++i) {
        const std::string code = net::NewInviteCode();
        ASSERT_EQ(code.size(), net::kCodeLength + 1);
        ASSERT_EQ(code[5], '-');
        auto normal = net::NormalizeCode(code);
        ASSERT_TRUE(normal) << code;
        for (char c : *normal) ++letters[c];
        seen.insert(*normal);
    }
    EXPECT_EQ(seen.size(), 2000u);
    // Every letter of the alphabet turns up about as often: 20,000 draws of 29.
    ASSERT_EQ(letters.size(), net::kCodeLetters.size());
    for (auto [letter, count] : letters) EXPECT_NEAR(count, 20000 / 29, 200) << letter;
    // Case, spaces and dashes do not matter; look-alikes and wrong lengths are no code.
    EXPECT_EQ(net::NormalizeCode(" abcde fghjk "), "ABCDEFGHJK");
    EXPECT_EQ(net::NormalizeCode("ABCDE-FGHJK"), "ABCDEFGHJK");
    for (const char* bad : {"ABCDE-FGHJ0", "OBCDE-FGHJK", "ABCDE-FGHJ1", "ABCDE-FGHJI",
                            "ABCDE-FGHJL", "ABCDE-FGHJ", "ABCDE-FGHJKM", ""})
        EXPECT_FALSE(net::NormalizeCode(bad)) << bad;
}

TEST(InviteCode, AProofHoldsOnlyForItsChallengeAndItsCode) {
    // SHA-256 of "abc" and of 56 bytes that need a second block for the length.
    const auto abc = net::Sha256(reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(abc[0], 0xba);
    EXPECT_EQ(abc[31], 0xad);
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const auto longer = net::Sha256(reinterpret_cast<const uint8_t*>(two.data()), two.size());
    EXPECT_EQ(longer[0], 0x24);
    EXPECT_EQ(longer[31], 0xc1);

    net::Nonce a{}, b{};
    b[15] = 1;
    const auto proof = net::ProveCode(a, "ABCDEFGHJK");
    EXPECT_TRUE(net::SameProof(proof, net::ProveCode(a, "ABCDEFGHJK")));
    EXPECT_FALSE(net::SameProof(proof, net::ProveCode(b, "ABCDEFGHJK")));  // replayed elsewhere
    EXPECT_FALSE(net::SameProof(proof, net::ProveCode(a, "ABCDEFGHJM")));
    EXPECT_FALSE(net::SameProof(proof, net::ProveCode(a, "")));
}

TEST(InviteCode, TheJoinFieldTakesAnAddressACodeOrTheLineTheHostShows) {
    std::string error;
    auto plain = net::ParseInvite("192.168.1.20:7510", error);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->address, "192.168.1.20:7510");
    EXPECT_EQ(plain->code, "");
    auto withCode = net::ParseInvite("  11.77.0.1:27500   k7m2q x9pab ", error);
    ASSERT_TRUE(withCode) << error;
    EXPECT_EQ(withCode->address, "11.77.0.1:27500");
    EXPECT_EQ(withCode->code, "K7M2QX9PAB");
    auto line = net::ParseInvite(
        "Friends join at 198.51.100.7:27500 with the code K7M2Q-X9PAB (the router opened it by "
        "UPnP).",
        error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->address, "198.51.100.7:27500");
    EXPECT_EQ(line->code, "K7M2QX9PAB");
    EXPECT_FALSE(net::ParseInvite("11.77.0.1:27500 NOTACODE0", error));
    EXPECT_NE(error.find("not an invite code"), std::string::npos);
    EXPECT_FALSE(net::ParseInvite("just words", error));
}

TEST(NetworkPreferences, KeptInTheirOwnSectionApartFromTheGamesSettings) {
    // An older file lacks the section: the defaults hold.
    const std::string old =
        "; mine\r\n[Options]\r\nGameDifficulty=2 ; hard\r\n[Extra]\r\nKey=1\r\n";
    const net::Preferences defaults = net::ParsePreferences(old);
    EXPECT_TRUE(defaults.openRouter);
    EXPECT_TRUE(defaults.discovery);
    EXPECT_EQ(defaults.port, net::kDefaultPort);

    net::Preferences chosen;
    chosen.openRouter = false;
    chosen.port = 27500;
    chosen.name = "Den; upstairs";
    const std::string merged = net::MergePreferences(old, chosen);
    // Every line the file had is kept as it was, in its line ends.
    EXPECT_EQ(merged.rfind(old.substr(0, old.size() - 2), 0), 0u) << merged;
    EXPECT_NE(merged.find("[Network]\r\nOpenRouter=0\r\n"), std::string::npos) << merged;
    const net::Preferences back = net::ParsePreferences(merged);
    EXPECT_FALSE(back.openRouter);
    EXPECT_EQ(back.port, 27500);
    EXPECT_EQ(back.name, "Den, upstairs");  // a ';' would start a comment
    EXPECT_EQ(net::MergePreferences(merged, back), merged);

    // The game's own settings read and write the same with or without them.
    kdv::Settings a, b;
    kdv::ParseSettings(old, a);
    kdv::ParseSettings(merged, b);
    EXPECT_EQ(kdv::FormatSettings(a), kdv::FormatSettings(b));
    // Saving the game's settings keeps the section as it is.
    const net::Preferences afterSave = net::ParsePreferences(kdv::MergeSettings(merged, b));
    EXPECT_FALSE(afterSave.openRouter);
    EXPECT_EQ(afterSave.port, 27500);
    EXPECT_EQ(afterSave.name, "Den, upstairs");
    // A port out of range or a value that is no number keeps the default.
    const auto bad = net::ParsePreferences("[network]\nport=70000\nopenrouter=yes\n");
    EXPECT_EQ(bad.port, net::kDefaultPort);
    EXPECT_TRUE(bad.openRouter);
}

TEST(LocalNetwork, OnlyTheSubnetAQuestionCameInOnIsItsOwnNetwork) {
    bool ok = false;
    const uint32_t home = net::ParseDottedQuad("192.168.77.2", ok);
    std::vector<net::Subnet> subnets = {
        {net::ParseDottedQuad("127.0.0.1", ok), 0xFF000000u, 1, 0, "lo"},
        {home, 0xFFFFFF00u, 2, 0, "eth0"},
        {net::ParseDottedQuad("10.1.0.5", ok), 0xFFFF0000u, 3, 0, "eth1"}};
    const uint32_t neighbour = net::ParseDottedQuad("192.168.77.3", ok);
    const uint32_t outside = net::ParseDottedQuad("11.77.0.2", ok);
    const uint32_t other = net::ParseDottedQuad("10.1.200.9", ok);
    EXPECT_TRUE(net::OnOwnNetwork(neighbour, subnets));
    EXPECT_TRUE(net::OnOwnNetwork(net::ParseDottedQuad("127.0.0.5", ok), subnets));
    EXPECT_FALSE(net::OnOwnNetwork(outside, subnets));
    EXPECT_TRUE(net::OnInterfaceNetwork(neighbour, 2, subnets));
    // A neighbour's address arriving on another interface is someone pretending.
    EXPECT_FALSE(net::OnInterfaceNetwork(neighbour, 3, subnets));
    EXPECT_TRUE(net::OnInterfaceNetwork(other, 3, subnets));
    EXPECT_FALSE(net::OnInterfaceNetwork(outside, 2, subnets));
}

TEST(Discovery, AnswersSayWhatAJoinerNeedsAndNothingDamagedIsBelieved) {
    discovery::Listing l;
    l.name = "Den";
    l.mode = 3;
    l.stage = 12;
    l.seatFree = false;
    l.port = 27500;
    l.address = 0xC0A84D02;
    l.identity = {"0.1.0+abc", {1234, 5}, {99, 7}};
    const auto bytes = discovery::EncodeAnswer(l);
    auto back = discovery::DecodeAnswer(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(discovery::EncodeAnswer(*back), bytes);
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(discovery::DecodeAnswer({bytes.data(), n}));
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(discovery::DecodeAnswer(longer));
    EXPECT_FALSE(discovery::IsQuestion(bytes));
    EXPECT_TRUE(discovery::IsQuestion(discovery::EncodeQuestion()));

    // A game of another build is listed with the reason it cannot be joined.
    net::Identity mine = l.identity;
    EXPECT_EQ(discovery::Unjoinable(l, mine), "");
    mine.build = "0.1.0+def";
    EXPECT_NE(discovery::Unjoinable(l, mine).find("the host Kordavel 0.1.0+abc"),
              std::string::npos);
    const discovery::Found found{"192.168.77.2:27500", l, {}};
    const std::string line = discovery::Line(found, mine);
    EXPECT_EQ(line.rfind("192.168.77.2:27500 ", 0), 0u) << line;
    EXPECT_NE(line.find("cannot join"), std::string::npos) << line;
}

TEST(Discovery, AFloodOfQuestionsGetsAFewAnswersAndNothingElse) {
    // The answerer on a port of its own, asked over the loopback only.
    const uint16_t port = uint16_t(30000 + ::getpid() % 20000);
    discovery::Listing l;
    l.name = "here";
    l.port = 7510;
    std::string error;
    auto answerer = discovery::Answerer::Start(l, error, port);
    ASSERT_TRUE(answerer) << error;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto question = discovery::EncodeQuestion();
    auto send = [&](const std::vector<uint8_t>& bytes) {
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    };
    send(question);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    uint8_t buffer[512];
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    auto answer = discovery::DecodeAnswer({buffer, size_t(got > 0 ? got : 0)});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->name, "here");
    EXPECT_EQ(answer->port, 7510);
    EXPECT_EQ(net::DottedQuad(answer->address), "127.0.0.1");
    EXPECT_TRUE(answer->seatFree);
    answerer->SetSeatFree(false);

    // Garbage is ignored; a flood is answered no faster than the limit allows.
    send({1, 2, 3});
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i) send(question);
    long answers = 0;
    bool seatShownTaken = true;
    while (poll(&p, 1, 300) == 1) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (auto a = discovery::DecodeAnswer({buffer, size_t(n > 0 ? n : 0)})) {
            ++answers;
            seatShownTaken = seatShownTaken && !a->seatFree;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(seatShownTaken);
    EXPECT_GE(answers, 1);
    EXPECT_LE(answers, discovery::kAnswerBurst + long(seconds * discovery::kAnswersPerSecond) + 1);
    EXPECT_GE(answerer->Ignored(), 1);
    close(fd);
}

}  // namespace

namespace {

// Inside router_test.sh's namespaces only (it sets KORDAVEL_NETLAB to the method it expects): a
// mapping with a lease of a few seconds is renewed before it lapses, again and again, and goes
// when the opener is closed; router_test.sh looks at the router's table meanwhile.
TEST(PortOpener, RenewsBeforeTheLeaseEndsAndRemovesTheMappingWhenClosed) {
    const char* method = std::getenv("KORDAVEL_NETLAB");
    if (!method) GTEST_SKIP() << "asks a router: runs inside router_test.sh's namespaces only";
    router::Request r;
    r.port = 7520;
    r.leaseSeconds = 4;
    {
        router::PortOpener opener(r);
        const auto asked = std::chrono::steady_clock::now();
        while (opener.Current().state == router::Status::Asking &&
               std::chrono::steady_clock::now() - asked < std::chrono::seconds(8))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        router::Status status = opener.Current();
        ASSERT_EQ(status.state, router::Status::Open) << status.why;
        EXPECT_EQ(status.method, method);
        EXPECT_EQ(status.external, "11.77.0.1:7520");
        std::printf("mapped\n");
        std::fflush(stdout);
        // Three leases long: only renewals keep it.
        std::this_thread::sleep_for(std::chrono::seconds(12));
        status = opener.Current();
        EXPECT_EQ(status.state, router::Status::Open) << status.why;
        std::printf("closing\n");
        std::fflush(stdout);
    }
    router::FinishClosing();
}

}  // namespace
