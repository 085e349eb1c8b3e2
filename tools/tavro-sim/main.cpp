// SPDX-License-Identifier: MIT
// tavro-sim: a simulated Tavro timer on pseudo-terminal ports (see --help).

#include "Options.h"
#include "Ports.h"
#include "SessionFile.h"
#include "SessionGen.h"
#include "Version.h"

#include <fstream>
#include <iostream>
#include <memory>

namespace {

sim::SimSession loadSession(const sim::Config& config, std::string& origin) {
    switch (config.source) {
    case sim::SessionSource::file:
        origin = "file " + config.sessionPath;
        return sim::LoadSessionFile(config.sessionPath);
    case sim::SessionSource::generated:
        origin = "seed " + std::to_string(config.seed);
        return sim::GenerateSession(config.seed, config.groups);
    case sim::SessionSource::demo:
        break;
    }
    origin = "demo";
    return sim::DemoSession();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

int fail(int status, const std::string& message) {
    std::cerr << "tavro-sim: " << message << "\n";
    return status;
}

} // namespace

int main(int argc, char** argv) {
    sim::Config config;
    try {
        config = sim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const sim::UsageError& e) {
        return fail(sim::exitUsage, std::string(e.what()) + "\nTry 'tavro-sim --help'.");
    }
    if (config.help) {
        std::cout << sim::HelpText();
        return sim::exitAllAcknowledged;
    }
    if (config.version) {
        std::cout << "tavro-sim " << tavroVersion << "\n";
        return sim::exitAllAcknowledged;
    }

    sim::SimSession session;
    std::string origin;
    try {
        session = loadSession(config, origin);
    } catch (const sim::SessionError& e) {
        return fail(sim::exitUsage, e.what());
    }
    if (!config.expectPath.empty() && !writeFile(config.expectPath, sim::ExpectedSavedText(session)))
        return fail(sim::exitUsage, "cannot write " + config.expectPath);
    if (!config.dumpPath.empty() && !writeFile(config.dumpPath, sim::FormatSession(session)))
        return fail(sim::exitUsage, "cannot write " + config.dumpPath);

    std::ofstream logFile;
    if (!config.logPath.empty()) {
        logFile.open(config.logPath, std::ios::trunc);
        if (!logFile)
            return fail(sim::exitUsage, "cannot write " + config.logPath);
    }
    sim::Log log(config.logPath.empty() ? std::cout : logFile);
    log.Line("session groups " + std::to_string(session.groups.size()) + " source " + origin);

    sim::InstallStopSignals();
    sim::PlaySummary summary;
    try {
        std::unique_ptr<sim::PtyPorts> ports;
        std::unique_ptr<sim::TimerLine> line;
        if (!config.device.empty()) {
            line = sim::MakeDeviceLine(config.device);
            log.Line("ready device " + config.device);
        } else {
            ports = std::make_unique<sim::PtyPorts>(config.dir, config.ports);
            for (const sim::PtyPort& port : ports->Ports())
                log.Line("port " + port.name + " device " + port.device);
            line = sim::MakePtyLine(*ports, config.timerPort - 1, log);
            log.Line("ready dir " + ports->Dir().string() + " ports " + std::to_string(config.ports) + " timer " +
                     line->Name());
        }
        summary = sim::Play(session, config.play, *line, log);
    } catch (const std::exception& e) {
        return fail(sim::exitLineFailed, e.what());
    }
    if (summary.interrupted)
        return sim::exitStopped;
    return summary.AllAcknowledged() ? sim::exitAllAcknowledged : sim::exitGroupGivenUp;
}
