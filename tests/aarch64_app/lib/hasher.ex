defmodule Hasher do
  @moduledoc false
  use Application

  # `hasher ARGS...` prints the runtime's architecture, its arguments and the
  # SHA-256 of them joined by spaces (through crypto's NIF), and ends with as
  # many as its status. `hasher_service serve` runs until it is stopped.
  @impl true
  def start(_type, _args) do
    case Enum.map(:init.get_plain_arguments(), &List.to_string/1) do
      ["serve"] ->
        Supervisor.start_link([{Task, &announce_when_booted/0}], strategy: :one_for_one)

      args ->
        IO.puts("arch: #{:erlang.system_info(:system_architecture)}")
        IO.puts("args: #{inspect(args)}")

        IO.puts(
          "sha256: " <> Base.encode16(:crypto.hash(:sha256, Enum.join(args, " ")), case: :lower)
        )

        System.halt(length(args))
    end
  end

  @impl true
  def stop(_state), do: IO.puts("hasher stopped")

  # A runtime stops cleanly on SIGTERM once it has booted: the test waits for
  # this line before it signals.
  defp announce_when_booted do
    case :init.get_status() do
      {:started, _} ->
        IO.puts("hasher serving")

      _ ->
        Process.sleep(10)
        announce_when_booted()
    end
  end
end
