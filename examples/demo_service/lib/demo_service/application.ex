defmodule DemoService.Application do
  @moduledoc """
  A long-running release: a small HTTP server on the port given as
  `--port N` (0 picks a free one).

  Packed with `wexlo pack --service`, the launcher boots it without Elixir's
  command-line handler, so `start/2` returns its supervisor and the release
  runs until it is stopped (SIGTERM, `System.stop/0`), like `bin/APP start`.
  """
  use Application

  @impl true
  def start(_type, _args) do
    args = Enum.map(:init.get_plain_arguments(), &List.to_string/1)

    case DemoService.Options.parse(args) do
      {:ok, options} ->
        Supervisor.start_link([{DemoService.Server, options}],
          strategy: :one_for_one,
          name: DemoService.Supervisor
        )

      {:error, message} ->
        IO.puts(:stderr, "demo_service: #{message}")
        System.halt(2)
    end
  end

  # Runs on SIGTERM too: the runtime stops every application in order.
  @impl true
  def stop(_state), do: IO.puts("demo_service stopped")
end
