// quorvel-fx: applies the AudioEffects nodes to audio files from the command line.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
  quorvelfx::InterruptCleanup::install();

  CLI::App app{
      "quorvel-fx: run audio files through the AudioEffects nodes (all that the extension\n"
      "registers; 'quorvel-fx list' names them).",
      "quorvel-fx"};
  app.set_version_flag("--version", "quorvel-fx " QUORVEL_FX_VERSION);
  app.require_subcommand(1);
  app.footer(quorvelfx::HelpText::toolFooter());

  quorvelfx::ApplyOptions apply;
  CLI::App* applyCommand =
      app.add_subcommand("apply", "Run INPUT through a chain of effects and write OUTPUT");
  applyCommand->add_option("INPUT", apply.input, "Input audio file (any format libsndfile reads)")
      ->required();
  applyCommand
      ->add_option("OUTPUT", apply.output,
                   "Output file; .wav .flac .aiff or .ogg picks the container")
      ->required();
  applyCommand
      ->add_option("EFFECT", apply.chain, "EFFECT [name=value ...] [EFFECT [name=value ...] ...]")
      ->required();
  applyCommand->add_option("--block", apply.block, "Frames per processing block, 1 to 65536")
      ->type_name("N")
      ->capture_default_str();
  applyCommand
      ->add_option("--encoding", apply.encoding,
                   "float, pcm16 or pcm24 (default: float for WAV/AIFF, pcm24 for FLAC)")
      ->type_name("ENCODING");
  applyCommand
      ->add_option("--tail", apply.tail,
                   "Seconds of silence appended so echoes ring out (default: until the "
                   "chain's echoes decay by 60 dB, at most 10 s; 0 keeps the length)")
      ->type_name("SECONDS");
  applyCommand->add_flag("-q,--quiet", apply.quiet, "No progress bar and no summary line");
  applyCommand->footer(quorvelfx::HelpText::applyFooter());

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

  std::string demoDirectory = "quorvel-fx-demo";
  CLI::App* demoCommand = app.add_subcommand(
      "demo", "Run a built-in test signal through every effect; write WAVs and pictures");
  demoCommand->add_option("OUTDIR", demoDirectory, "Folder to write into")->capture_default_str();
  demoCommand->footer(quorvelfx::HelpText::demoFooter());

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& bad) {
    return fail(quorvelfx::kExitUsage,
                std::string(bad.what()) + " (run 'quorvel-fx --help' for usage)");
  }

  try {
    if (applyCommand->parsed()) return quorvelfx::runApply(apply);
    if (listCommand->parsed()) return quorvelfx::runList(listJson);
    if (describeCommand->parsed()) {
      return quorvelfx::runDescribe(describeType, describeJson);
    }
    if (demoCommand->parsed()) return quorvelfx::runDemo(demoDirectory);
  } catch (const quorvelfx::CliError& error) {
    return fail(error.code(), error.what());
  } catch (const std::exception& error) {
    return fail(quorvelfx::kExitInternal, error.what());
  }
  return fail(quorvelfx::kExitUsage, "no command given (run 'quorvel-fx --help' for usage)");
}
