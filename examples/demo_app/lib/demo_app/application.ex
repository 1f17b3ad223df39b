defmodule DemoApp.Application do
  @moduledoc """
  Runs the command line and halts the runtime with its status.

  The release is booted with `-s elixir start_cli` and the user's arguments
  behind `-extra`. Returning from here would let Elixir's own command-line
  handling read those arguments as a script to run, so the work happens in
  this callback and the VM never gets past it.
  """
  use Application

  @impl true
  def start(_type, _args) do
    status =
      try do
        :init.get_plain_arguments()
        |> Enum.map(&DemoApp.CLI.argument_bytes/1)
        |> drop_start_script_flag()
        |> DemoApp.CLI.main()
      rescue
        # An exception escaping start/2 would stop the runtime with a page of
        # internals and leave erl_crash.dump in the user's directory; the user
        # gets one line and status 1 instead.
        exception ->
          IO.puts(:stderr, "demo_app: error: " <> Exception.message(exception))
          1
      end

    System.halt(status)
  end

  # The release's own `bin/demo_app start` passes no user arguments, only
  # "--no-halt" for Elixir's command line; treat that as no arguments.
  defp drop_start_script_flag(["--no-halt" | args]), do: args
  defp drop_start_script_flag(args), do: args
end
