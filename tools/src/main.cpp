// quorvel-fx: applies the AudioEffects nodes to audio files from the command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "ApplyOptions.hpp"
#include "AudioFiles.hpp"
#include "CommandLine.hpp"
#include "Commands.hpp"
#include "TerminalOutput.hpp"

#ifndef QUORVEL_FX_VERSION
#define QUORVEL_FX_VERSION "0.0.0"
#endif

namespace {

int fail(int code, const std::string& message) {
  std::cerr << "quorvel-fx: error: " << message << std::endl;
  return code;
}

// The subcommand the words name, before CLI11 sees them, so that an error
// can point to that command's help; empty for none.
std::string commandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') return argv[i];
  }
  return {};
}

// The subcommand called `name`, nullptr for none.
CLI::App* findCommand(CLI::App& app, const std::string& name) {
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    if (sub->get_name() == name) return sub;
  }
  return nullptr;
}

std::vector<std::string> commandNames(CLI::App& app) {
  std::vector<std::string> names;
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    names.push_back(sub->get_name());
  }
  return names;
}

std::string helpHint(const std::string& command) {
  return command.empty() ? " (run 'quorvel-fx --help' for usage)"
                         : " (see 'quorvel-fx " + command + " --help')";
}

}  // namespace

int main(int argc, char** argv) {
  quorvelfx::Interrupts::install(quorvelfx::ProgressBar::clearForSignal);

  CLI::App app{
      "quorvel-fx: run audio files through the AudioEffects nodes (all that the extension\n"
      "registers; 'quorvel-fx list' names them).",
      "quorvel-fx"};
  app.set_version_flag("-V,--version", "quorvel-fx " QUORVEL_FX_VERSION);
  app.require_subcommand(0, 1);
  app.footer(quorvelfx::HelpText::toolFooter());

  quorvelfx::ApplyOptions apply;
  CLI::App* applyCommand = quorvelfx::addApplyCommand(app, apply);

  bool listJson = false;
  CLI::App* listCommand = app.add_subcommand("list", "List the registered effect types");
  listCommand->add_flag("--json", listJson, "Print JSON instead of a table");
  listCommand->footer(quorvelfx::HelpText::listFooter());

  std::string describeType;
  bool describeJson = false;
  CLI::App* describeCommand =
      app.add_subcommand("describe", "Show one effect type's descriptor and parameters");
  describeCommand->add_option("TYPE", describeType, "Effect type name, e.g. Delay")->required();
  describeCommand->add_flag("--json", describeJson, "Print JSON instead of text");
  describeCommand->footer(quorvelfx::HelpText::describeFooter());

  std::string chainFile;
  std::vector<std::string> chainWords;
  CLI::App* chainCommand = app.add_subcommand(
      "chain", "Check a chain of effects and print it as a chain file (for apply --chain)");
  chainCommand->add_option("EFFECTS", chainWords, "EFFECT [name=value ...] [EFFECT ...]")
      ->type_name("WORD");
  chainCommand->add_option("--chain", chainFile, "Read the effects from a chain file instead")
      ->type_name("FILE.json");
  chainCommand->footer(quorvelfx::HelpText::chainFooter());

  std::string demoDirectory = "quorvel-fx-demo";
  CLI::App* demoCommand = app.add_subcommand(
      "demo", "Run a built-in test signal through every effect; write WAVs and pictures");
  demoCommand->add_option("OUTDIR", demoDirectory, "Folder to write into")->capture_default_str();
  demoCommand->footer(quorvelfx::HelpText::demoFooter());

  std::string helpTopic;
  CLI::App* helpCommand =
      app.add_subcommand("help", "Show the help of quorvel-fx or of one COMMAND");
  helpCommand->add_option("COMMAND", helpTopic, "A command name, e.g. apply");

  const std::string command = commandWord(argc, argv);
  quorvelfx::SplitWords words =
      quorvelfx::splitAtSeparator(argc, argv, command == "apply" ? command : std::string());
  apply.chain = std::move(words.after);
  apply.separated = words.separated;
  if (!command.empty() && findCommand(app, command) == nullptr) {
    return fail(quorvelfx::kExitUsage,
                quorvelfx::CommandNames::unknown(command, commandNames(app)) + helpHint(""));
  }

  try {
    app.parse(static_cast<int>(words.before.size()), words.before.data());
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& bad) {
    return fail(quorvelfx::kExitUsage, std::string(bad.what()) + helpHint(command));
  }

  if (helpCommand->parsed()) {
    if (helpTopic.empty() || helpTopic == "help") {
      // app.help() would show the selected subcommand's, i.e. help's own.
      std::cout << app.get_formatter()->make_help(&app, "quorvel-fx", CLI::AppFormatMode::Normal);
      return quorvelfx::kExitSuccess;
    }
    CLI::App* topic = findCommand(app, helpTopic);
    if (topic == nullptr) {
      return fail(
          quorvelfx::kExitUsage,
          quorvelfx::CommandNames::unknown(helpTopic, commandNames(app)) + helpHint("help"));
    }
    std::cout << topic->help("quorvel-fx");
    return quorvelfx::kExitSuccess;
  }

  try {
    if (applyCommand->parsed()) return quorvelfx::runApply(apply);
    if (listCommand->parsed()) return quorvelfx::runList(listJson);
    if (describeCommand->parsed()) {
      return quorvelfx::runDescribe(describeType, describeJson);
    }
    if (demoCommand->parsed()) return quorvelfx::runDemo(demoDirectory);
    if (chainCommand->parsed()) return quorvelfx::runChain(chainFile, chainWords);
  } catch (const quorvelfx::CliError& error) {
    const bool usage = error.code() == quorvelfx::kExitUsage;
    return fail(error.code(), error.what() + (usage ? helpHint(command) : std::string()));
  } catch (const std::exception& error) {
    return fail(quorvelfx::kExitInternal, error.what());
  }
  return fail(quorvelfx::kExitUsage,
              "a command is required (list, describe, apply, chain, demo or help)" + helpHint(""));
}
