// The real programs started headless in a program folder of their own, played by the test input
// plugins (tests/MV_X/driver/, tests/MV_M/driver/) through one task each.
#pragma once

#include "../Harness.h"

#include <QProcess>
#include <initializer_list>

// Starts a program of the folder with one driver task.
inline void StartDriven(QProcess& process, const std::string& dir, const std::string& program,
                        const std::string& task) {
    fs::remove(dir + "driver.log");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_PLUGIN_PATH", MV_TEST_PLUGINS);
    env.insert("QT_QPA_GENERIC_PLUGINS", QString::fromStdString(task));
    if (!env.contains("LSAN_OPTIONS"))
        env.insert("LSAN_OPTIONS", QString("suppressions=%1/tests/lsan.supp").arg(MV_SOURCE_DIR));
    process.setProcessEnvironment(env);
    // Into files, not pipes: a program it starts outlives it and writes there too.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QString::fromStdString(dir + "stderr.log"));
    process.start(QString::fromStdString(dir + program), {});
}

// The driver's log and the program's error output so far.
inline std::string DrivenLog(const std::string& dir) {
    const avitest::Bytes log = avitest::ReadFile(dir + "driver.log");
    const avitest::Bytes err = avitest::ReadFile(dir + "stderr.log");
    return std::string(log.begin(), log.end()) + std::string(err.begin(), err.end());
}

// Runs a program of the folder with one driver task to its end; returns its log.
inline std::string RunDriven(const std::string& dir, const std::string& program,
                             const std::string& task, int& exitCode) {
    QProcess process;
    StartDriven(process, dir, program, task);
    exitCode = process.waitForFinished(180000) ? process.exitCode() : -1;
    return DrivenLog(dir);
}

// Copies of the programs in the folder: the program folder is the executable's own, links
// followed.
inline void CopyPrograms(const std::string& dir, std::initializer_list<const char*> programs) {
    for (const char* program : programs) {
        const std::string copy = dir + fs::path(program).filename().string();
        fs::copy_file(program, copy);
        fs::permissions(copy, fs::perms::owner_all);
    }
}
